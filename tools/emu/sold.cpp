#include "emu/sold.h"

#include <algorithm>
#include <vector>

#include "ffd/ffd.h"

namespace emu {

bool ReadSold(const FdDocument& d, Sold* sold) {
  ffd::Container c;
  std::vector<ffd::Tlv> tags;
  if (ffd::ParseContainer(d.container.data(), d.container.size(), &c) != ffd::ContainerError::kNone ||
      (c.documentType != ffd::kReceipt && c.documentType != ffd::kCorrectionReceipt) ||
      !ffd::ReadDocument(c, &tags)) {
    return false;
  }
  auto amount = [&](uint16_t tag) {
    const ffd::Tlv* t = ffd::FindTag(tags, tag);
    uint64_t v = 0;
    return t && ffd::ReadVln(*t, &v) ? static_cast<int64_t>(v) : -1;
  };
  sold->total = amount(ffd::tag::kTotal);
  sold->cash = amount(ffd::tag::kCash);
  sold->electronic = amount(ffd::tag::kCashless);
  sold->advance = amount(ffd::tag::kAdvance);
  sold->credit = amount(ffd::tag::kCredit);
  sold->provision = amount(ffd::tag::kProvision);
  sold->items = static_cast<size_t>(
      std::count_if(tags.begin(), tags.end(), [](const ffd::Tlv& t) { return t.tag == ffd::tag::kItem; }));
  return true;
}

}  // namespace emu
