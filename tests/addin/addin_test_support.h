// Helpers for driving the component as the host does: owned BSTRs, VARIANTs and parameter arrays
// that free themselves, and a component created through the class factory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "driver/com_text.h"
#include "support/scoped_env.h"
#include "addin/host_interfaces.h"
#include "addin/imirel240f.h"
#include "addin/method_table.h"
#include "addin/mirel240f.h"
#include "platform/codepage.h"

// A BSTR the test owns, from UTF-8 text.
class Bstr {
 public:
  explicit Bstr(const char* utf8) : m_bstr(Utf8ToBstr(utf8)) {}
  ~Bstr() { SysFreeString(m_bstr); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return m_bstr; }

 private:
  BSTR m_bstr;
};

// A VARIANT that clears itself.
struct Variant : VARIANT {
  Variant() { VariantInit(this); }
  ~Variant() { VariantClear(this); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
};

inline void SetI2(VARIANT* v, SHORT x) { VariantClear(v); v->vt = VT_I2; v->iVal = x; }
inline void SetI4(VARIANT* v, LONG x) { VariantClear(v); v->vt = VT_I4; v->lVal = x; }
inline void SetR8(VARIANT* v, double x) { VariantClear(v); v->vt = VT_R8; v->dblVal = x; }
inline void SetBool(VARIANT* v, bool x) {
  VariantClear(v);
  v->vt = VT_BOOL;
  v->boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
}
inline void SetText(VARIANT* v, const char* utf8) {
  VariantClear(v);
  v->vt = VT_BSTR;
  v->bstrVal = Utf8ToBstr(utf8);
}

// The host's parameter array: a one-dimensional SAFEARRAY of VARIANT, destroyed with its elements.
class ParamArray {
 public:
  explicit ParamArray(ULONG count) : m_psa(SafeArrayCreateVector(VT_VARIANT, 0, count)) {}
  ~ParamArray() { SafeArrayDestroy(m_psa); }
  ParamArray(const ParamArray&) = delete;
  ParamArray& operator=(const ParamArray&) = delete;

  SAFEARRAY** Ptr() { return &m_psa; }
  void Put(LONG index, const VARIANT& value) {
    ASSERT_EQ(S_OK, SafeArrayPutElement(m_psa, &index, const_cast<VARIANT*>(&value)));
  }
  // A copy of element index (the caller's Variant frees it).
  void Get(LONG index, Variant* out) {
    VariantClear(out);
    ASSERT_EQ(S_OK, SafeArrayGetElement(m_psa, &index, out));
  }

 private:
  SAFEARRAY* m_psa;
};

// The component as the host creates it, with the interfaces the host uses. Its settings store and
// default log folder are a temporary folder of the test's own, never the user's.
class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/mirel-component-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    m_folder = folder;
    m_config = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", (m_folder + "/config").c_str());
    m_state = std::make_unique<ScopedEnv>("XDG_STATE_HOME", (m_folder + "/state").c_str());
    CreateComponent();
  }
  void TearDown() override {
    ReleaseComponent();
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
  }

  // Creates the component through the class factory, as the host does for each session.
  void CreateComponent() {
    IClassFactory* pFactory = nullptr;
    ASSERT_EQ(S_OK, DllGetClassObject(CLSID_Mirel240F, IID_IClassFactory,
                                      reinterpret_cast<void**>(&pFactory)));
    ASSERT_EQ(S_OK, pFactory->CreateInstance(nullptr, IID_ILanguageExtender,
                                             reinterpret_cast<void**>(&ext)));
    pFactory->Release();
    // The tests look into the object behind the interface: its device context and call name.
    object = static_cast<CMirel240F*>(ext);
  }
  void ReleaseComponent() {
    if (ext) ext->Release();
    ext = nullptr;
    object = nullptr;
  }

  FPContext* Device() { return object->Device(); }
  // The life-cycle interface of the component; the fixture's reference keeps the object alive.
  IInitDone* InitDone() {
    IInitDone* p = nullptr;
    EXPECT_EQ(S_OK, ext->QueryInterface(IID_IInitDone, reinterpret_cast<void**>(&p)));
    if (p) p->Release();
    return p;
  }

  LONG Find(const char* utf8) {
    Bstr name(utf8);
    LONG n = -2;
    ext->FindMethod(name, &n);
    return n;
  }

  // GetLastError exactly as the host calls it: method 0 with one VT_EMPTY element.
  LONG LastError(std::string* text = nullptr) {
    ParamArray params(1);
    Variant result;
    EXPECT_EQ(S_OK, ext->CallAsFunc(0, &result, params.Ptr()));
    EXPECT_EQ(VT_I4, result.vt);
    Variant description;
    params.Get(0, &description);
    EXPECT_EQ(VT_BSTR, description.vt);
    if (text) *text = BstrToUtf8(description.bstrVal);
    return result.lVal;
  }

  ILanguageExtender* ext = nullptr;
  CMirel240F* object = nullptr;

 private:
  std::string m_folder;
  std::unique_ptr<ScopedEnv> m_config, m_state;
};
