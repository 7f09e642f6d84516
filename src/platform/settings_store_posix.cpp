// The settings key as a file: one line a value, "d NAME=NUMBER" or "s NAME=TEXT", with backslash,
// newline and carriage return in the text escaped as \\, \n and \r. Names never hold '=' or a line
// break (they are the driver's own).
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/settings_store.h"

namespace plat {

namespace {

namespace fs = std::filesystem;

struct Value {
  char kind;  // 'd' number, 's' string
  std::string text;
};

using Values = std::map<std::string, Value>;

bool Root(fs::path* root) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // The base directory rules ignore relative values of the variable.
  if (config != nullptr && config[0] == '/') {
    *root = fs::path(config) / "mirel";
    return true;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') return false;
  *root = fs::path(home) / ".config" / "mirel";
  return true;
}

bool KeyFile(const std::string& keyPath, fs::path* file) {
  if (!Root(file)) return false;
  size_t start = 0;
  while (start <= keyPath.size()) {
    const size_t end = std::min(keyPath.find('\\', start), keyPath.size());
    const std::string part = keyPath.substr(start, end - start);
    // Empty, "." and ".." components would leave the root; the registry has none of them.
    if (part.empty() || part == "." || part == "..") return false;
    *file /= part;
    start = end + 1;
  }
  return true;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char c = text[++i];
      out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A missing file is an empty key; lines that are not values are skipped.
Values Load(const fs::path& file) {
  Values values;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (line.size() < 3 || (line[0] != 'd' && line[0] != 's') || line[1] != ' ' || eq == std::string::npos) {
      continue;
    }
    values[line.substr(2, eq - 2)] = {line[0], Unescape(line.substr(eq + 1))};
  }
  return values;
}

bool Save(const fs::path& file, const Values& values) {
  std::error_code error;
  fs::create_directories(file.parent_path(), error);
  if (error) return false;
  fs::path temp = file;
  temp += ".tmp." + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    for (const auto& v : values) {
      out << v.second.kind << ' ' << v.first << '=' << Escape(v.second.text) << '\n';
    }
    out.flush();
    if (!out) {
      fs::remove(temp, error);
      return false;
    }
  }
  fs::rename(temp, file, error);
  if (error) fs::remove(temp, error);
  return !error;
}

bool Store(const std::string& keyPath, const std::string& name, Value value) {
  fs::path file;
  if (!KeyFile(keyPath, &file) || name.empty() || name.find_first_of("=\r\n") != std::string::npos) {
    return false;
  }
  Values values = Load(file);
  values[name] = std::move(value);
  return Save(file, values);
}

bool Fetch(const std::string& keyPath, const std::string& name, char kind, std::string* text) {
  fs::path file;
  if (!KeyFile(keyPath, &file)) return false;
  const Values values = Load(file);
  const auto found = values.find(name);
  if (found == values.end() || found->second.kind != kind) return false;
  *text = found->second.text;
  return true;
}

}  // namespace

bool SettingsStore::WriteNumber(const std::string& name, uint32_t value) {
  return Store(m_keyPath, name, {'d', std::to_string(value)});
}

bool SettingsStore::WriteString(const std::string& name, const std::string& value) {
  return Store(m_keyPath, name, {'s', value});
}

bool SettingsStore::ReadNumber(const std::string& name, uint32_t* value) const {
  std::string text;
  if (!Fetch(m_keyPath, name, 'd', &text)) return false;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || number > UINT32_MAX) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

bool SettingsStore::ReadString(const std::string& name, std::string* value) const {
  return Fetch(m_keyPath, name, 's', value);
}

}  // namespace plat
