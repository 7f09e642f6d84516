// The settings key as a file: one line a value, "d NAME=NUMBER" or "s NAME=TEXT", with backslash,
// newline and carriage return in the text escaped as \\, \n and \r. Names never hold '=' or a line
// break (they are the driver's own). The files are reached through the file facility, by 1251
// paths like every other file of the driver.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/settings_store.h"

namespace plat {

namespace {

struct Value {
  char kind;  // 'd' number, 's' string
  std::string text;
};

using Values = std::map<std::string, Value>;

// The variables hold UTF-8 names; the file calls take 1251 text.
bool Root(std::string* root) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // The base directory rules ignore relative values of the variable.
  if (config != nullptr && config[0] == '/') {
    *root = Utf8ToCp1251(config) + "/mirel";
    return true;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') return false;
  *root = Utf8ToCp1251(home) + "/.config/mirel";
  return true;
}

bool KeyFile(const std::string& keyPath, std::string* file) {
  if (!Root(file)) return false;
  size_t start = 0;
  while (start <= keyPath.size()) {
    const size_t end = std::min(keyPath.find('\\', start), keyPath.size());
    const std::string part = keyPath.substr(start, end - start);
    // Empty, "." and ".." components would leave the root; the registry has none of them.
    if (part.empty() || part == "." || part == "..") return false;
    *file += '/' + part;
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
std::string ReadText(const std::string& file) {
  std::string text;
  std::FILE* in = OpenFile(file, "rb");
  if (in == nullptr) return text;
  char block[4096];
  size_t count;
  while ((count = std::fread(block, 1, sizeof block, in)) > 0) text.append(block, count);
  std::fclose(in);
  return text;
}

Values Load(const std::string& file) {
  Values values;
  const std::string text = ReadText(file);
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t eq = line.find('=');
    if (line.size() < 3 || (line[0] != 'd' && line[0] != 's') || line[1] != ' ' || eq == std::string::npos) {
      continue;
    }
    values[line.substr(2, eq - 2)] = {line[0], Unescape(line.substr(eq + 1))};
  }
  return values;
}

bool WriteText(const std::string& file, const std::string& text) {
  std::FILE* out = OpenFile(file, "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  return std::fclose(out) == 0 && written;
}

bool Save(const std::string& file, const Values& values) {
  if (!MakeDirectories(file.substr(0, file.rfind('/')))) return false;
  std::string text;
  for (const auto& v : values) text += v.second.kind + (' ' + v.first) + '=' + Escape(v.second.text) + '\n';
  const std::string temp = file + ".tmp." + std::to_string(getpid());
  if (WriteText(temp, text) && RenameFile(temp, file)) return true;
  RemoveFile(temp);
  return false;
}

bool Store(const std::string& keyPath, const std::string& name, Value value) {
  std::string file;
  if (!KeyFile(keyPath, &file) || name.empty() || name.find_first_of("=\r\n") != std::string::npos) {
    return false;
  }
  Values values = Load(file);
  values[name] = std::move(value);
  return Save(file, values);
}

bool Fetch(const std::string& keyPath, const std::string& name, char kind, std::string* text) {
  std::string file;
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
