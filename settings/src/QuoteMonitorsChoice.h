#pragma once

// The Position page's choice of where the quote goes on a screen of several
// monitors: "Quote on:" with "Primary monitor" / "Every monitor", standing
// for the stored values "primary" / "each".

#include <QComboBox>
#include <QLabel>
#include <string>

#include "StringTable.h"

namespace kv::settings {

class QuoteMonitorsChoice {
 public:
  // Makes the caption and the list in `parent`, at `left`, `top` (twips).
  QuoteMonitorsChoice(QWidget* parent, int left, int top);

  QComboBox* List() const { return cboQuoteMonitors_; }
  QLabel* Caption() const { return lblQuoteMonitors_; }

  // The caption and the items from the string table; what the table lacks
  // keeps the built-in English text, and the answer says what was missing.
  [[nodiscard]] Status LoadTexts(const StringTable& Table);

  // Selects the item of a stored value. A value this version does not know
  // selects nothing, so that it is saved back unchanged unless the user
  // picks an item.
  void Show(const std::string& Value);

  // The stored value of the selected item, or `Previous` when none is.
  std::string Value(const std::string& Previous) const;

  void SetVisible(bool Visible);

 private:
  QLabel* lblQuoteMonitors_ = nullptr;
  QComboBox* cboQuoteMonitors_ = nullptr;
};

}  // namespace kv::settings
