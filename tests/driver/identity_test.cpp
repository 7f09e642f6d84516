// Identity and last error of the driver, as the host reads them.
#include <gtest/gtest.h>

#include <string>

#include "driver/com_text.h"
#include "driver/mirel_driver.h"
#include "platform/codepage.h"

namespace {

std::string LastError(CMirelDriver& driver, LONG* code) {
  char text[256];
  *code = driver.GetLastError(text, sizeof text);
  return plat::Cp1251ToUtf8(text);
}

TEST(LastError, ComposesDriverAndPrinterTexts) {
  struct Case {
    int32_t result;
    int32_t deviceError;
    const char* expected;
  };
  const Case cases[] = {
      {0, 0, " "},
      {5, 41, "Ошибка протокола - неправильный формат ответа. Пароль не введен, или неверный"},
      {0, 41, " Пароль не введен, или неверный"},
      {2, 0, "Фискальный принтер отсутствует, отключен или выключен"},
      {60, 0, "Ошибка не установлена"},
      {152, 0, "Ошибка не установлена"},
      {-3, 0, "Ошибка не установлена"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    CMirelDriver driver;
    driver.Device()->nLastResult = c.result;
    driver.Device()->nDeviceError = c.deviceError;
    LONG code = -1;
    EXPECT_EQ(LastError(driver, &code), c.expected);
    EXPECT_EQ(code, c.result);
    // Asking again changes nothing.
    EXPECT_EQ(LastError(driver, &code), c.expected);
    EXPECT_EQ(code, c.result);
  }
}

TEST(LastError, LongTextsStayInsideTheBuffer) {
  CMirelDriver driver;
  driver.Device()->nLastResult = 40;
  driver.Device()->nDeviceError = 41;
  char small[24];
  driver.GetLastError(small, sizeof small);
  EXPECT_EQ(std::string(small).size(), sizeof small - 1);
}

TEST(Identity, DescriptionVersionAndLineLength) {
  CMirelDriver driver;
  EXPECT_STREQ(driver.GetVersion(), "1.0.0.24");
  BSTR name = nullptr, description = nullptr, type = nullptr, url = nullptr;
  LONG revision = 0, integration = -1, installed = -1;
  EXPECT_TRUE(driver.GetDescription(&name, &description, &type, &revision, &integration, &installed, &url));
  EXPECT_EQ(BstrToUtf8(name), "Универсальный драйвер ККМ Мирел-240-Ф вер. 1.05");
  EXPECT_EQ(BstrToUtf8(description), "Обеспечивает работу совместно с ККМ Мирел-240-Ф вер. 1.05");
  EXPECT_EQ(BstrToUtf8(type), "ФискальныйРегистратор");
  EXPECT_EQ(revision, 2004);
  EXPECT_EQ(integration, 0);
  EXPECT_EQ(installed, 0);
  EXPECT_FALSE(BstrToUtf8(url).empty());
  for (BSTR b : {name, description, type, url}) SysFreeString(b);

  LONG width = 0;
  EXPECT_TRUE(driver.GetLineLength("id", &width));
  EXPECT_EQ(width, 35);
}

}  // namespace
