#include "ffd/ffd.h"

#include <gtest/gtest.h>

namespace {

using ffd::Bytes;

const char kDrive[] = "9999078900012345";

TEST(FfdFormat, Crc16IsCcittWithInitialOnes) {
  const char text[] = "123456789";
  EXPECT_EQ(ffd::Crc16(reinterpret_cast<const uint8_t*>(text), 9), 0x29B1);
  EXPECT_EQ(ffd::Crc16(nullptr, 0), 0xFFFF);
}

TEST(FfdFormat, NumbersTakeTheFewestBytesLittleEndian) {
  struct Case {
    uint64_t value;
    Bytes encoded;
  };
  const Case cases[] = {{0, {0x00}}, {255, {0xFF}}, {256, {0x00, 0x01}}, {123456, {0x40, 0xE2, 0x01}}};
  for (const Case& c : cases) {
    const Bytes tlv = ffd::TlvWriter().Vln(ffd::tag::kTotal, c.value).bytes();
    Bytes expected{0xFC, 0x03, static_cast<uint8_t>(c.encoded.size()), 0x00};
    expected.insert(expected.end(), c.encoded.begin(), c.encoded.end());
    EXPECT_EQ(tlv, expected) << c.value;
    std::vector<ffd::Tlv> tags;
    uint64_t back = 0;
    ASSERT_TRUE(ffd::ParseTlv(tlv, &tags));
    ASSERT_TRUE(ffd::ReadVln(tags.at(0), &back));
    EXPECT_EQ(back, c.value);
  }
  EXPECT_EQ(ffd::TlvWriter().Fvln(ffd::tag::kItemQuantity, 3, 1500).bytes(),
            (Bytes{0xFF, 0x03, 0x03, 0x00, 0x03, 0xDC, 0x05}));
}

TEST(FfdFormat, TagsThatRunPastTheEndAreRefused) {
  const Bytes good =
      ffd::TlvWriter().U32(ffd::tag::kDocumentNumber, 7).String(ffd::tag::kCashier, "AB").bytes();
  std::vector<ffd::Tlv> tags;
  ASSERT_TRUE(ffd::ParseTlv(good, &tags));
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_EQ(ffd::ReadString(tags[1]), "AB");
  for (size_t cut = 1; cut < good.size(); ++cut) {
    if (cut == 8) continue;  // the first tag alone is a whole sequence
    std::vector<ffd::Tlv> partial;
    EXPECT_FALSE(ffd::ParseTlv(good.data(), cut, &partial)) << cut;
  }
  uint32_t n = 0;
  EXPECT_FALSE(ffd::ReadU32(tags[1], &n));
}

TEST(FfdFormat, SessionHeaderHasTheFixedLayout) {
  const Bytes h = ffd::BuildSessionHeader({kDrive, 0x1234});
  const Bytes expected_start{0x2A, 0x08, 0x41, 0x0A, 0x81, 0xA2, 0x00, 0x01};
  ASSERT_EQ(h.size(), ffd::kSessionHeaderSize);
  EXPECT_EQ(Bytes(h.begin(), h.begin() + 8), expected_start);
  EXPECT_EQ(std::string(h.begin() + 8, h.begin() + 24), kDrive);
  EXPECT_EQ(Bytes(h.begin() + 24, h.end()), (Bytes{0x34, 0x12, 0x14, 0x00, 0x00, 0x00}));
  ffd::SessionHeader back;
  ASSERT_TRUE(ffd::ParseSessionHeader(h.data(), h.size(), &back));
  EXPECT_EQ(back.driveNumber, kDrive);
  EXPECT_EQ(back.containerLength, 0x1234);
  EXPECT_FALSE(ffd::ParseSessionHeader(h.data(), 29, &back));
}

TEST(FfdFormat, ContainerCarriesItsLengthCrcAndNumbers) {
  ffd::DocumentHeader h;
  h.type = ffd::kReceipt;
  h.number = 42;
  h.dateTime = 1796817600;
  h.registrationNumber = "0000000001012345";
  h.driveNumber = kDrive;
  h.fiscalSign = 0x89ABCDEF;
  const Bytes body = ffd::TlvWriter().U8(ffd::tag::kOperationType, 1).Vln(ffd::tag::kTotal, 15000).bytes();
  h.number = 0x01022A;
  const Bytes c = ffd::BuildContainer(ffd::DocumentContainer(h, body));
  ASSERT_EQ(ffd::kContainerHeaderSize, 32u);
  ASSERT_GT(c.size(), ffd::kContainerHeaderSize);
  EXPECT_EQ(c[0] | (c[1] << 8), static_cast<int>(c.size()));
  // Message type, document type, protocol version 1, two service bytes, the drive's number in
  // BCD, the document number in three bytes high byte first, twelve service bytes.
  EXPECT_EQ(Bytes(c.begin() + 4, c.begin() + 9), (Bytes{0xA5, 0x03, 0x01, 0x00, 0x00}));
  EXPECT_EQ(Bytes(c.begin() + 9, c.begin() + 17), (Bytes{0x99, 0x99, 0x07, 0x89, 0x00, 0x01, 0x23, 0x45}));
  EXPECT_EQ(Bytes(c.begin() + 17, c.begin() + 20), (Bytes{0x01, 0x02, 0x2A}));
  EXPECT_EQ(Bytes(c.begin() + 20, c.begin() + 32), Bytes(12, 0));
  // The document starts right after the header, as one tag of its type.
  EXPECT_EQ(Bytes(c.begin() + 32, c.begin() + 34), (Bytes{ffd::kReceipt, 0x00}));
  // The CRC covers the length field and all that follows the CRC, low byte first.
  Bytes covered(c.begin(), c.begin() + 2);
  covered.insert(covered.end(), c.begin() + 4, c.end());
  const uint16_t crc = ffd::Crc16(covered.data(), covered.size());
  EXPECT_EQ(c[2] | (c[3] << 8), crc);

  ffd::Container back;
  ASSERT_EQ(ffd::ParseContainer(c.data(), c.size(), &back), ffd::ContainerError::kNone);
  EXPECT_EQ(back.driveNumber, kDrive);
  EXPECT_EQ(back.documentNumber, 0x01022Au);
  std::vector<ffd::Tlv> outer, inner;
  ASSERT_TRUE(ffd::ParseTlv(back.tlv, &outer));
  ASSERT_EQ(outer.size(), 1u);
  EXPECT_EQ(outer[0].tag, ffd::kReceipt);
  ASSERT_TRUE(ffd::ParseTlv(outer[0].value, &inner));
  uint32_t sign = 0;
  ASSERT_NE(ffd::FindTag(inner, ffd::tag::kFiscalSign), nullptr);
  ASSERT_TRUE(ffd::ReadFiscalSign(*ffd::FindTag(inner, ffd::tag::kFiscalSign), &sign));
  EXPECT_EQ(sign, 0x89ABCDEFu);
  EXPECT_EQ(ffd::FindTag(inner, ffd::tag::kFiscalSign)->value, (Bytes{0, 0, 0x89, 0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(ffd::ReadString(*ffd::FindTag(inner, ffd::tag::kDriveNumber)), kDrive);

  Bytes spoiled = c;
  spoiled.back() ^= 1;
  EXPECT_EQ(ffd::ParseContainer(spoiled.data(), spoiled.size(), &back), ffd::ContainerError::kCrc);
  EXPECT_EQ(ffd::ParseContainer(c.data(), c.size() - 1, &back), ffd::ContainerError::kLength);
  EXPECT_EQ(ffd::ParseContainer(c.data(), 31, &back), ffd::ContainerError::kShort);

  const Bytes message = ffd::BuildMessage(ffd::DocumentContainer(h, body));
  ASSERT_EQ(message.size(), ffd::kSessionHeaderSize + c.size());
  EXPECT_EQ(Bytes(message.begin() + ffd::kSessionHeaderSize, message.end()), c);
  EXPECT_EQ(message[24] | (message[25] << 8), static_cast<int>(c.size()));

  h.number = ffd::kMaxContainerNumber + 1;
  EXPECT_TRUE(ffd::BuildContainer(ffd::DocumentContainer(h, body)).empty());
}

TEST(FfdFormat, DriveNumberMustBeSixteenDigits) {
  uint8_t packed[8];
  EXPECT_FALSE(ffd::PackDriveNumber("999907890001234", packed));
  EXPECT_FALSE(ffd::PackDriveNumber("99990789000123A5", packed));
  ASSERT_TRUE(ffd::PackDriveNumber(kDrive, packed));
  EXPECT_EQ(ffd::UnpackDriveNumber(packed), kDrive);
  ffd::Container c;
  c.driveNumber = "12";
  EXPECT_TRUE(ffd::BuildContainer(c).empty());
}

TEST(FfdFormat, AcknowledgementRoundTripAndRefusals) {
  ffd::Acknowledgement a;
  a.driveNumber = kDrive;
  a.documentNumber = 17;
  a.dateTime = 1796817600;
  for (size_t i = 0; i < ffd::kOperatorSignSize; ++i) a.operatorSign[i] = static_cast<uint8_t>(i + 1);
  a.responseCode = 14;
  a.serviceData1[0] = 0x10;
  const Bytes c = ffd::BuildContainer(ffd::AcknowledgementContainer(a));
  EXPECT_EQ(Bytes(c.begin() + 4, c.begin() + 8), (Bytes{0x5A, 7, 1, 0x10}));

  ffd::Acknowledgement back;
  ASSERT_TRUE(ffd::ParseAcknowledgement(c.data(), c.size(), &back));
  EXPECT_EQ(back.driveNumber, kDrive);
  EXPECT_EQ(back.documentNumber, 17u);
  EXPECT_EQ(back.dateTime, a.dateTime);
  EXPECT_EQ(back.ofdInn, a.ofdInn);
  EXPECT_EQ(back.responseCode, 14);
  EXPECT_EQ(Bytes(back.operatorSign, back.operatorSign + 18), Bytes(a.operatorSign, a.operatorSign + 18));

  std::string why;
  Bytes spoiled = c;
  spoiled[30] ^= 0x55;
  EXPECT_FALSE(ffd::ParseAcknowledgement(spoiled.data(), spoiled.size(), &back, &why));
  EXPECT_EQ(why, "container CRC does not match");

  ffd::DocumentHeader h;
  h.driveNumber = kDrive;
  const Bytes document = ffd::BuildContainer(ffd::DocumentContainer(h, {}));
  ASSERT_FALSE(document.empty());
  EXPECT_FALSE(ffd::ParseAcknowledgement(document.data(), document.size(), &back, &why));
  EXPECT_EQ(why, "not an operator acknowledgement");

  // Marked A5 like a document, a receipt still reads; a document marked as a receipt does not.
  ffd::Container markedA5 = ffd::AcknowledgementContainer(a);
  markedA5.messageType = ffd::kFiscalDocument;
  const Bytes a5 = ffd::BuildContainer(markedA5);
  EXPECT_TRUE(ffd::ParseAcknowledgement(a5.data(), a5.size(), &back));
  ffd::Container marked5A = ffd::DocumentContainer(h, {});
  marked5A.messageType = ffd::kOperatorReceipt;
  const Bytes receipt5A = ffd::BuildContainer(marked5A);
  ffd::Container c5A;
  EXPECT_EQ(ffd::ParseContainer(receipt5A.data(), receipt5A.size(), &c5A), ffd::ContainerError::kMessageType);
}

TEST(FfdFormat, StringsAreCp866) {
  EXPECT_EQ(ffd::Cp866FromUtf8("Аая Ёё Z №1"),
            "\x80\xA0\xEF \xF0\xF1 Z \xFC"
            "1");
  EXPECT_EQ(ffd::Utf8FromCp866("\xFC"
                               "1"),
            "№1");
  EXPECT_EQ(ffd::Utf8FromCp866("\x8A\xA0\xE1\xE1\xA8\xE0"), "Кассир");
  EXPECT_EQ(ffd::Cp866FromUtf8("€"), "?");
}

}  // namespace
