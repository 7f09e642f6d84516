// Running calls through the component's method table.
#include "host_session.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "addin/method_table.h"
#include "component.h"
#include "driver/com_text.h"

namespace {

constexpr const char kDeviceIDVariable[] = "$DeviceID";
constexpr const char kWaitCall[] = "wait";
constexpr const char kDoneCall[] = "Done";
constexpr int kWaitIntervalMs = 1000;

bool IsOut(ParamKind kind) {
  return kind == ParamKind::kOutString || kind == ParamKind::kOutInteger;
}

bool IsAbsolutePath(const std::string& path) {
  return !path.empty() && (path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':'));
}

bool ReadWholeFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return true;
}

// Numbers as the host platform passes them: whole numbers as VT_I4, others as VT_R8.
bool ParseNumber(const std::string& text, VARIANT* v) {
  LONG integer = 0;
  VARIANT probe;
  VariantInit(&probe);
  probe.vt = VT_BSTR;
  probe.bstrVal = Utf8ToBstr(text.c_str());
  const bool isInteger = VariantToInt32(probe, &integer);
  VariantClear(&probe);
  if (isInteger) {
    v->vt = VT_I4;
    v->lVal = integer;
    return true;
  }
  std::istringstream in(text);
  double number = 0;
  if (!(in >> number) || !in.eof()) return false;
  v->vt = VT_R8;
  v->dblVal = number;
  return true;
}

void SetText(VARIANT* v, const std::string& text) {
  v->vt = VT_BSTR;
  v->bstrVal = Utf8ToBstr(text.c_str());
}

// An argument by the kind of its parameter: text parameters take any argument as text; numbers
// and VARIANT values are read from unquoted literals (true/false as VT_BOOL).
void ToVariant(const HostArg& arg, ParamKind kind, VARIANT* v) {
  VariantInit(v);
  if (kind == ParamKind::kString || arg.quoted) return SetText(v, arg.text);
  if (arg.text == "true" || arg.text == "false") {
    v->vt = VT_BOOL;
    v->boolVal = arg.text == "true" ? VARIANT_TRUE : VARIANT_FALSE;
    return;
  }
  if (!ParseNumber(arg.text, v)) SetText(v, arg.text);
}

std::string VariantText(const VARIANT& v) {
  switch (v.vt) {
    case VT_BOOL:
      return v.boolVal ? "True" : "False";
    case VT_I4:
      return std::to_string(v.lVal);
    case VT_BSTR:
      return BstrToUtf8(v.bstrVal);
    case VT_EMPTY:
      return "(empty)";
    default:
      return "(type " + std::to_string(v.vt) + ")";
  }
}

// One out-parameter. An XML document comes as several lines: they go below its name, indented, so
// that the elements read as a block.
void PrintValue(std::ostream& out, const char* name, std::string text) {
  if (text.find('\n') == std::string::npos) {
    out << "  " << name << ": " << text << '\n';
    return;
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  out << "  " << name << ":\n";
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) out << "    " << line << '\n';
}

}  // namespace

bool ParseCallLine(const std::string& line, const std::string& baseDir, std::optional<HostCall>* call,
                   std::string* error) {
  call->reset();
  std::vector<HostArg> words;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
      ++i;
      continue;
    }
    if (words.empty() && line[i] == '#') break;
    HostArg word;
    if (line[i] == '"') {
      word.quoted = true;
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        word.text.push_back(line[i]);
      }
      if (i >= line.size()) {
        *error = "unterminated quote";
        return false;
      }
      ++i;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
        word.text.push_back(line[i++]);
      }
      if (word.text.size() > 1 && word.text[0] == '@') {
        std::string path = word.text.substr(1);
        if (!baseDir.empty() && !IsAbsolutePath(path)) path = baseDir + "/" + path;
        if (!ReadWholeFile(path, &word.text)) {
          *error = "cannot read " + path;
          return false;
        }
        word.quoted = true;
      }
    }
    words.push_back(std::move(word));
  }
  if (words.empty()) return true;
  HostCall parsed;
  parsed.method = words[0].text;
  parsed.args.assign(words.begin() + 1, words.end());
  *call = std::move(parsed);
  return true;
}

void PrintMethodList(std::ostream& out) {
  for (int n = 0; n < kMethodCount; ++n) {
    const MethodInfo& m = MethodAt(n);
    out << "  " << m.english;
    if (std::string(m.russian) != m.english) out << " (" << m.russian << ")";
    out << '\n';
    for (int p = 0; p < m.nParams; ++p) {
      out << "      " << (IsOut(m.params[p].kind) ? "out " : "in  ") << m.params[p].name << '\n';
    }
  }
}

HostSession::~HostSession() {
  if (m_bInitialised) m_pInitDone->Done();
  if (m_pExtender) m_pExtender->Release();
  if (m_pInitDone) m_pInitDone->Release();
}

bool HostSession::Start(HostConnection& connection, std::string* error) {
  const bool created =
      m_create ? m_create(connection, &m_pInitDone, error) : CreateComponent(&m_pInitDone, error);
  if (!created) return false;
  if (FAILED(m_pInitDone->Init(static_cast<IDispatch*>(&connection)))) {
    *error = "the component refused Init (the property profile could not be read)";
    return false;
  }
  m_bInitialised = true;
  if (FAILED(m_pInitDone->QueryInterface(IID_ILanguageExtender, reinterpret_cast<void**>(&m_pExtender)))) {
    *error = "the component offers no ILanguageExtender";
    return false;
  }
  return true;
}

void HostSession::PrintInfo() {
  SAFEARRAY* info = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  const HRESULT hr = m_pInitDone->GetInfo(&info);
  VARIANT version;
  LONG index = 0;
  SafeArrayGetElement(info, &index, &version);
  *m_out << "GetInfo: " << VariantText(version) << (hr == S_OK ? "" : " (call refused)") << '\n';
  VariantClear(&version);
  SafeArrayDestroy(info);
}

bool HostSession::BuildArguments(LONG method, const HostCall& call, SAFEARRAY* params) {
  const MethodInfo& info = MethodAt(method);
  size_t next = 0;
  for (int p = 0; p < info.nParams; ++p) {
    if (IsOut(info.params[p].kind)) continue;  // out elements go in empty, as the host passes them
    if (next >= call.args.size()) break;
    HostArg arg = call.args[next++];
    if (!ResolveVariable(&arg)) return false;
    VARIANT v;
    ToVariant(arg, info.params[p].kind, &v);
    LONG index = p;
    SafeArrayPutElement(params, &index, &v);
    VariantClear(&v);
  }
  int expected = 0;
  for (int p = 0; p < info.nParams; ++p) expected += IsOut(info.params[p].kind) ? 0 : 1;
  if (call.args.size() != static_cast<size_t>(expected)) {
    *m_out << call.method << ": takes " << expected << " argument(s), " << call.args.size() << " given\n";
    return false;
  }
  return true;
}

// "$DeviceID" is the identifier of the last Open; any other unquoted "$NAME" the environment's
// value, so that a script can take what only its caller knows (a port the system chose).
bool HostSession::ResolveVariable(HostArg* arg) {
  if (arg->quoted || arg->text.size() < 2 || arg->text[0] != '$') return true;
  if (arg->text == kDeviceIDVariable) {
    arg->text = m_lastDeviceID;
    return true;
  }
  const char* value = std::getenv(arg->text.c_str() + 1);
  if (!value) {
    *m_out << arg->text << ": no such variable in the environment\n";
    return false;
  }
  arg->text = value;
  return true;
}

CallOutcome HostSession::Run(const HostCall& call) {
  if (call.method == kDoneCall) return RunDone(call);
  if (!m_bInitialised) {
    *m_out << call.method << ": the component is done\n";
    return CallOutcome::kRejected;
  }
  return call.method == kWaitCall ? RunUntilPrinted(call) : RunMethod(call);
}

CallOutcome HostSession::RunDone(const HostCall& call) {
  if (!call.args.empty() || !m_bInitialised) {
    *m_out << kDoneCall
           << (call.args.empty() ? ": the component is done already\n" : ": takes no arguments\n");
    return CallOutcome::kRejected;
  }
  m_bInitialised = false;
  const HRESULT hr = m_pInitDone->Done();
  *m_out << kDoneCall << ": True" << (hr == S_OK ? "" : " (call refused)") << '\n';
  return CallOutcome::kSucceeded;
}

CallOutcome HostSession::RunUntilPrinted(const HostCall& call) {
  char* end = nullptr;
  const long seconds = call.args.empty() ? 0 : std::strtol(call.args[0].text.c_str(), &end, 10);
  if (call.args.size() < 3 || *end != '\0' || seconds < 1) {
    *m_out << kWaitCall << ": takes SECONDS TEXT METHOD [ARG...]\n";
    return CallOutcome::kRejected;
  }
  const std::string& expected = call.args[1].text;
  HostCall repeated{call.args[2].text, {call.args.begin() + 3, call.args.end()}};
  std::ostream* out = m_out;
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(seconds);
  for (;;) {
    std::ostringstream printed;
    m_out = &printed;
    const CallOutcome outcome = RunMethod(repeated);
    m_out = out;
    const bool seen = printed.str().find(expected) != std::string::npos;
    if (seen || outcome == CallOutcome::kRejected || std::chrono::steady_clock::now() >= deadline) {
      const auto waited =
          std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
      *out << printed.str() << "  (" << (seen ? "seen" : "not seen") << " after " << waited.count()
           << " s)\n";
      if (seen || outcome == CallOutcome::kRejected) return outcome;
      return CallOutcome::kFailed;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kWaitIntervalMs));
  }
}

CallOutcome HostSession::RunMethod(const HostCall& call) {
  BSTR name = Utf8ToBstr(call.method.c_str());
  LONG method = -1;
  m_pExtender->FindMethod(name, &method);
  SysFreeString(name);
  if (method < 0) {
    *m_out << call.method << ": no such method (see --help)\n";
    return CallOutcome::kRejected;
  }
  LONG nParams = 0;
  m_pExtender->GetNParams(method, &nParams);
  SAFEARRAY* params = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(nParams));
  if (!BuildArguments(method, call, params)) {
    SafeArrayDestroy(params);
    return CallOutcome::kRejected;
  }

  VARIANT result;
  VariantInit(&result);
  const HRESULT hr = m_pExtender->CallAsFunc(method, &result, &params);
  const MethodInfo& info = MethodAt(method);
  *m_out << info.english << ": " << VariantText(result) << (hr == S_OK ? "" : " (call refused)") << '\n';
  for (int p = 0; p < info.nParams; ++p) {
    if (!IsOut(info.params[p].kind)) continue;
    VARIANT out;
    LONG index = p;
    SafeArrayGetElement(params, &index, &out);
    PrintValue(*m_out, info.params[p].name, VariantText(out));
    if (method == kMethodOpen && out.vt == VT_BSTR) m_lastDeviceID = BstrToUtf8(out.bstrVal);
    VariantClear(&out);
  }
  const bool failed = hr != S_OK || (result.vt == VT_BOOL && !result.boolVal);
  VariantClear(&result);
  SafeArrayDestroy(params);
  if (failed) PrintLastError();
  return failed ? CallOutcome::kFailed : CallOutcome::kSucceeded;
}

void HostSession::PrintLastError() {
  SAFEARRAY* params = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  VARIANT code;
  VariantInit(&code);
  m_pExtender->CallAsFunc(kMethodGetLastError, &code, &params);
  VARIANT text;
  LONG index = 0;
  SafeArrayGetElement(params, &index, &text);
  *m_out << "  GetLastError: " << VariantText(code) << ' ' << VariantText(text) << '\n';
  VariantClear(&text);
  VariantClear(&code);
  SafeArrayDestroy(params);
}
