#include "QuoteMonitorsChoice.h"

#include <QStringList>

#include "PickOnlyList.h"
#include "Twips.h"

namespace kv::settings {
namespace {

// The string table's ids of the caption and of the items, in the English block.
constexpr int kCaptionId = 132;
constexpr int kItemsId = 133;
constexpr const char* kValues[] = {"primary", "each"};

}  // namespace

QuoteMonitorsChoice::QuoteMonitorsChoice(QWidget* parent, int left, int top) {
  lblQuoteMonitors_ = new QLabel(QStringLiteral("Quote on:"), parent);
  lblQuoteMonitors_->setObjectName(QStringLiteral("lblQuoteMonitors"));
  lblQuoteMonitors_->setGeometry(TwipsRect(left, top + 45, 900, 240));
  cboQuoteMonitors_ = new QComboBox(parent);
  cboQuoteMonitors_->setObjectName(QStringLiteral("cboQuoteMonitors"));
  MakePickOnly(cboQuoteMonitors_);
  cboQuoteMonitors_->setGeometry(TwipsRect(left + 945, top, 1995, 315));
  cboQuoteMonitors_->addItems({QStringLiteral("Primary monitor"), QStringLiteral("Every monitor")});
  lblQuoteMonitors_->setBuddy(cboQuoteMonitors_);
}

Status QuoteMonitorsChoice::LoadTexts(const StringTable& Table) {
  auto caption = Table.Load(kCaptionId);
  auto split = caption ? SplitResourceText(*caption) : Result<ResourceText>(std::unexpected(caption.error()));
  if (!split) return Fail(ErrorCode::Corrupt, "the caption \"Quote on:\" is shown in English: " + split.error().message);
  lblQuoteMonitors_->setText(split->text);

  auto items = Table.Load(kItemsId);
  auto splitItems = items ? SplitResourceText(*items) : Result<ResourceText>(std::unexpected(items.error()));
  if (!splitItems) {
    return Fail(ErrorCode::Corrupt, "the monitor choices are shown in English: " + splitItems.error().message);
  }
  QStringList texts = splitItems->text.split(QStringLiteral("///"));
  if (texts.size() != 2) {
    return Fail(ErrorCode::Corrupt, "the monitor choices are shown in English: the string table lists " +
                                        std::to_string(texts.size()) + " of them instead of 2");
  }
  for (int i = 0; i < 2; ++i) cboQuoteMonitors_->setItemText(i, texts[i]);
  return Ok();
}

void QuoteMonitorsChoice::Show(const std::string& Value) {
  int item = -1;
  for (int i = 0; i < 2; ++i) {
    if (Value == kValues[i]) item = i;
  }
  cboQuoteMonitors_->setCurrentIndex(item);
}

std::string QuoteMonitorsChoice::Value(const std::string& Previous) const {
  int item = cboQuoteMonitors_->currentIndex();
  return item >= 0 && item < 2 ? kValues[item] : Previous;
}

void QuoteMonitorsChoice::SetVisible(bool Visible) {
  lblQuoteMonitors_->setVisible(Visible);
  cboQuoteMonitors_->setVisible(Visible);
}

}  // namespace kv::settings
