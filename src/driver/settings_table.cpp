#include "driver/settings_table.h"

#include <tinyxml.h>

#include <string>

namespace {

// The document the table is built into: a declaration and the empty root.
constexpr const char kTemplate[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Settings/>";

enum class Choices { kNone, kPorts, kSpeeds };

struct Parameter {
  std::string name;
  const char* caption;
  const char* type;
  const char* defaultValue;  // null: no default offered
  const char* description;   // null: none
  bool readOnly = false;
  Choices choices = Choices::kNone;
};

// Speed codes of the port and the rates the user sees for them.
constexpr const char* kSpeeds[] = {"4800", "9600", "19200", "38400", "57600", "76800", "115200"};

constexpr const char* kPaymentMeanDefaults[] = {
    "БЕЗНАЛИЧНЫМИ",   "БЕЗНАЛИЧНЫМИ-2", "БЕЗНАЛИЧНЫМИ-3", "БЕЗНАЛИЧНЫМИ-4",
    "АВАНС",          "ИНАЯ ФОРМА",     "КРЕДИТ",         "НАЛИЧНЫМИ",
};

constexpr const char kLineText[] = "Текст";
constexpr const char kLineTextDescription[] = "Длина не более 42 символов. Смена должна быть закрыта";

const Parameter kConnection[] = {
    {"Model", "Модель", "String", "Мирел-240-Ф", nullptr, true},
    {"Port", "Порт", "Number", nullptr, "Номер COM-порта, к которому подключена ККМ", false, Choices::kPorts},
    {"Speed", "Скорость", "Number", nullptr, "Скорость обмена с ККТ", false, Choices::kSpeeds},
};

const Parameter kDevice[] = {
    {"Password", "Пароль", "String", nullptr, "Пароль ККТ"},
    {"Cashier", "Имя кассира", "String", "Кассир", "Имя кассира"},
};

const Parameter kDriver[] = {
    {"LogEnabled", "Включить протокол работы", "Boolean", "false", "Включить ведение протокола работы драйвера"},
    {"DailyLogEnabled", "Включить ежедневный протокол работы", "Boolean", "false",
     "Включить ежедневный протокол работы драйвера"},
    {"DailyLogLifeTime", "Время хранения файлов ежедневного протокола работы в сутках", "Number", "7",
     "Время хранения может быть от 1 до 30 суток"},
    {"PathLog", "Каталог протокола", "String", "c:\\Mirel\\", "Полный путь к каталогу протокола работы драйвера"},
};

const Parameter kCentring = {"CenterCliche", "Центрировать заголовки и окончания документов", "Boolean", "true",
                             "Выравнивать по центру строки заголовка и окончания документов"};

const Parameter kReceipt[] = {
    {"SmallFont", "Использовать мелкий шрифт", "Boolean", "false", "Управление размером шрифта"},
    {"PrintDepartment", "Печатать номер отдела в чеке", "Boolean", "false", "Управление печатью номера отдела в чеке"},
    {"EnablePercent", "Всегда печатать в чеке ставку налога в процентах", "Boolean", "true",
     "Управление печатью наименования ставки налога"},
    {"AddressSiteInspections", "Адрес сайта проверки", "String", nullptr, "Длина адреса до 256 символов"},
};

const Parameter kOfd[] = {
    {"AddressFDO", "Адрес сервера ОФД", "String", nullptr, "IP-адрес или URL сервера ОФД (длина адреса до 256 символов)"},
    {"PortFDO", "Порт сервера ОФД", "Number", "7778", "IP-порт сервера ОФД"},
};

TiXmlElement* AddElement(TiXmlNode* parent, const char* name, const char* caption) {
  TiXmlElement* element = parent->LinkEndChild(new TiXmlElement(name))->ToElement();
  if (caption) element->SetAttribute("Caption", caption);
  return element;
}

void AddChoice(TiXmlElement* list, const std::string& value, const std::string& text) {
  TiXmlElement* item = AddElement(list, "Item", nullptr);
  item->SetAttribute("Value", value.c_str());
  item->LinkEndChild(new TiXmlText(text.c_str()));
}

void AddParameter(TiXmlNode* parent, const Parameter& p, const std::vector<int>& ports) {
  TiXmlElement* e = AddElement(parent, "Parameter", nullptr);
  e->SetAttribute("Name", p.name.c_str());
  e->SetAttribute("Caption", p.caption);
  e->SetAttribute("TypeValue", p.type);
  if (p.defaultValue && *p.defaultValue) e->SetAttribute("DefaultValue", p.defaultValue);
  if (p.readOnly) e->SetAttribute("ReadOnly", "true");
  if (p.description && *p.description) e->SetAttribute("Description", p.description);
  if (p.choices == Choices::kNone) return;
  TiXmlElement* list = AddElement(e, "ChoiceList", nullptr);
  if (p.choices == Choices::kPorts) {
    for (int port : ports) AddChoice(list, std::to_string(port), "COM" + std::to_string(port));
  } else {
    for (size_t code = 0; code < sizeof kSpeeds / sizeof kSpeeds[0]; ++code) {
      AddChoice(list, std::to_string(code), kSpeeds[code]);
    }
  }
}

template <size_t N>
void AddPage(TiXmlNode* root, const char* caption, const Parameter (&parameters)[N], const std::vector<int>& ports) {
  TiXmlElement* page = AddElement(root, "Page", caption);
  for (const Parameter& p : parameters) AddParameter(page, p, ports);
}

void AddPaymentMeans(TiXmlNode* root) {
  TiXmlElement* page = AddElement(root, "Page", "Платежные средства");
  for (int n = 1; n <= 8; ++n) {
    const std::string caption = "Наименование платежного средства № " + std::to_string(n);
    AddParameter(page,
                 {"PaymentMean" + std::to_string(n), caption.c_str(), "String", kPaymentMeanDefaults[n - 1],
                  "Длина не более 14 символов. Смена должна быть закрыта"},
                 {});
  }
}

// One template line's group: its text (header lines 1 and 2 have none here: they are the
// registration's), its bold and its double-height choice. `suffix` tells header ("c") from footer ("b").
void AddTemplateLine(TiXmlNode* page, const std::string& caption, int n, const char* suffix, const char* textName) {
  TiXmlElement* group = AddElement(page, "Group", caption.c_str());
  const std::string number = std::to_string(n);
  if (textName) AddParameter(group, {textName + number, kLineText, "String", nullptr, kLineTextDescription}, {});
  AddParameter(group,
               {"Bold" + number + suffix, "Использовать жирный шрифт", "Boolean", "false",
                "Использовать жирный шрифт для печати строки. Длина строки не более 21 символа"},
               {});
  AddParameter(group,
               {"Height" + number + suffix, "Использовать двойную высоту символов", "Boolean", "false",
                "Использовать двойную высоту символов для печати строки"},
               {});
}

void AddTemplatePage(TiXmlNode* root) {
  TiXmlElement* page = AddElement(root, "Page", "Шаблон документов");
  AddParameter(AddElement(page, "Group", "Общий вид"), kCentring, {});
  AddTemplateLine(page, "Строка заголовка № 1 (наименование организации)", 1, "c", nullptr);
  AddTemplateLine(page, "Строка заголовка № 2 (адрес установки ККТ)", 2, "c", nullptr);
  for (int n = 3; n <= 8; ++n) {
    AddTemplateLine(page, "Строка заголовка № " + std::to_string(n), n, "c", "HeaderString");
  }
  for (int n = 1; n <= 8; ++n) {
    AddTemplateLine(page, "Строка окончания № " + std::to_string(n), n, "b", "FooterString");
  }
}

}  // namespace

std::string BuildSettingsTable(const std::vector<int>& ports, bool withPaymentMeans) {
  TiXmlDocument doc;
  doc.Parse(kTemplate, nullptr, TIXML_ENCODING_UTF8);
  TiXmlElement* root = doc.RootElement();
  if (doc.Error() || !root) return {};
  AddPage(root, "Подключение", kConnection, ports);
  AddPage(root, "ККТ", kDevice, ports);
  AddPage(root, "Драйвер", kDriver, ports);
  if (withPaymentMeans) AddPaymentMeans(root);
  AddTemplatePage(root);
  AddPage(root, "Чек", kReceipt, ports);
  AddPage(root, "Подключение к серверу ОФД", kOfd, ports);
  TiXmlPrinter printer;
  doc.Accept(&printer);
  return printer.CStr();
}
