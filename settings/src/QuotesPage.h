#pragma once

// The Quotes page: which quotes files the quotes come from, or the files
// chosen in the sibling application, and a button that adds files of the
// user's own.

#include <string>
#include <vector>

#include "CheckedNames.h"
#include "OptionPage.h"

class QCheckBox;
class QListWidget;
class QPushButton;

namespace kv {
class CResources;
}

namespace kv::settings {

class QuotesPage : public OptionPage {
  Q_OBJECT

 public:
  QuotesPage(QWidget* parent, FocusCommits& commits);

  void Show(CSettings& settings, const CResources* catalog);

  // The files just copied into the data folder, added ticked.
  void AddNames(const std::vector<std::string>& names);

  QPushButton* AddButton() const { return cmdAddQuotesFiles_; }

 private:
  void chkUseQuotes_Change();
  void lstQuotesFiles_Change();

  QCheckBox* chkUseQuotes_ = nullptr;
  QListWidget* lstQuotesFiles_ = nullptr;
  QPushButton* cmdAddQuotesFiles_ = nullptr;
  CheckedNames quotesFiles_;
};

}  // namespace kv::settings
