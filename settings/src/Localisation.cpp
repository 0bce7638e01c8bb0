#include "Localisation.h"

#include <QComboBox>
#include <QStringList>
#include <QWidget>

#include "Twips.h"

namespace kv::settings {
namespace {

constexpr int kEnglishBase = 100;
constexpr int kPageNamesOffset = 13;
constexpr int kCaptionOffset = 22;

const QString kListSeparator = QStringLiteral("///");

Result<ResourceText> LoadSplit(const StringTable& table, int id) {
  KV_TRY_ASSIGN(QString text, table.Load(id));
  return SplitResourceText(text);
}

void Widen(QComboBox* list, std::int32_t twips) { list->resize(list->width() + Px(twips), list->height()); }

// Selecting by text, as the list's own text property would.
void SelectText(QComboBox* list, const QString& text) {
  list->setCurrentIndex(list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

Status FillValueList(QComboBox* list, const StringTable& table, int id, int defaultIndex) {
  KV_TRY_ASSIGN(ResourceText split, LoadSplit(table, id));
  QStringList items = split.text.split(kListSeparator);
  int remembered = list->currentIndex() >= 0 ? list->currentIndex() : defaultIndex;
  list->clear();
  list->addItems(items);
  if (remembered >= items.size()) {
    return Fail(ErrorCode::Corrupt, "the string table's list " + std::to_string(id) + " has " +
                                        std::to_string(items.size()) + " items, too few for position " +
                                        std::to_string(remembered));
  }
  SelectText(list, items[remembered]);
  Widen(list, split.b);
  return Ok();
}

}  // namespace

Status ApplyLocalisation(const LocalisedControls& controls, const StringTable& table, std::int32_t language) {
  // Only the English block carries every row the window needs, so it is the
  // one used whatever the language.
  (void)language;
  const int base = kEnglishBase;

  KV_TRY_ASSIGN(ResourceText pages, LoadSplit(table, base + kPageNamesOffset));
  QStringList names = pages.text.split(kListSeparator);
  int remembered = controls.cboVarious->currentIndex() >= 0 ? controls.cboVarious->currentIndex() : 0;
  std::array<QString, 5>& pageSlots = *controls.pageNames;
  for (qsizetype i = 0; i < names.size(); ++i) {
    if (i >= static_cast<qsizetype>(pageSlots.size())) {
      return Fail(ErrorCode::Corrupt, "the string table's page list " + std::to_string(base + kPageNamesOffset) +
                                          " names more than " + std::to_string(pageSlots.size()) + " pages");
    }
    pageSlots[static_cast<size_t>(i)] = names[i];
  }
  if (remembered >= static_cast<int>(pageSlots.size())) {
    return Fail(ErrorCode::Corrupt, "the page selector's position " + std::to_string(remembered) + " has no page");
  }
  controls.cboVarious->clear();
  for (const QString& name : pageSlots) controls.cboVarious->addItem(name);
  SelectText(controls.cboVarious, pageSlots[static_cast<size_t>(remembered)]);
  Widen(controls.cboVarious, pages.b);

  KV_TRY(FillValueList(controls.cboBackgroundMode, table, base + 14, 0));
  KV_TRY(FillValueList(controls.cboFrequency, table, base + 24, 4));
  KV_TRY(FillValueList(controls.cboVAlign, table, base + 25, 3));
  KV_TRY(FillValueList(controls.cboHAlign, table, base + 26, 3));

  KV_TRY_ASSIGN(ResourceText caption, LoadSplit(table, base + kCaptionOffset));
  controls.window->setWindowTitle(caption.text);
  return Ok();
}

}  // namespace kv::settings
