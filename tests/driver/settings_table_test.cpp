// The settings table the host shows: byte for byte as printed, and as the host reads it back.
#include "driver/settings_table.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Golden() {
  // The folder the build names, not __FILE__: a compiler cache may compile with relative paths.
  const auto path = std::filesystem::path(MIREL_TESTS_DIR) / "driver" / "golden" / "settings_table.xml";
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> PageCaptions(const TiXmlDocument& doc) {
  std::vector<std::string> captions;
  for (const TiXmlElement* page = doc.RootElement()->FirstChildElement("Page"); page;
       page = page->NextSiblingElement("Page")) {
    captions.push_back(page->Attribute("Caption"));
  }
  return captions;
}

TEST(SettingsTable, MatchesTheGoldenCopyByteForByte) {
  const std::string golden = Golden();
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(golden, BuildSettingsTable({1, 3}, true));
}

TEST(SettingsTable, ParsesBackWithPagesAndPortChoicesInOrder) {
  TiXmlDocument doc;
  doc.Parse(BuildSettingsTable({1, 3}, true).c_str(), nullptr, TIXML_ENCODING_UTF8);
  ASSERT_FALSE(doc.Error()) << doc.ErrorDesc();
  EXPECT_EQ((std::vector<std::string>{"Подключение", "ККТ", "Драйвер", "Платежные средства", "Шаблон документов",
                                      "Чек", "Подключение к серверу ОФД"}),
            PageCaptions(doc));
  const TiXmlElement* port = doc.RootElement()->FirstChildElement("Page")->FirstChildElement("Parameter")
                                 ->NextSiblingElement("Parameter");
  ASSERT_STREQ("Port", port->Attribute("Name"));
  std::vector<std::string> items;
  for (const TiXmlElement* item = port->FirstChildElement("ChoiceList")->FirstChildElement("Item"); item;
       item = item->NextSiblingElement("Item")) {
    items.push_back(std::string(item->Attribute("Value")) + "=" + item->GetText());
  }
  EXPECT_EQ((std::vector<std::string>{"1=COM1", "3=COM3"}), items);
}

TEST(SettingsTable, PaymentMeansOnlyForTheFirstFirmwareGeneration) {
  TiXmlDocument doc;
  doc.Parse(BuildSettingsTable({}, false).c_str(), nullptr, TIXML_ENCODING_UTF8);
  ASSERT_FALSE(doc.Error());
  EXPECT_EQ((std::vector<std::string>{"Подключение", "ККТ", "Драйвер", "Шаблон документов", "Чек",
                                      "Подключение к серверу ОФД"}),
            PageCaptions(doc));
}

}  // namespace
