#pragma once

// A check list of the names the catalog offers (fonts, pictures or quotes
// files), ticked where the settings select them. It keeps what it was
// filled with, so that a change of the ticks rebuilds the selection in the
// list's order and names added later join the list.

#include <string>
#include <string_view>
#include <vector>

#include "CheckList.h"
#include "kvplatform/base/Result.h"

class QListWidget;

namespace kv {
class CResources;
class CSettings;
}  // namespace kv

namespace kv::settings {

class CheckedNames {
 public:
  using Available = Status (CResources::*)(std::vector<std::string>&) const;
  using Selected = Status (CSettings::*)(std::vector<std::string>&) const;
  using Select = Status (CSettings::*)(const std::vector<std::string>&);

  // `defaultName` is what the settings select when nothing is ticked.
  CheckedNames(QListWidget* list, ListOrder order, std::string_view defaultName, Available available,
               Selected selected, Select select);

  // Refills the list. A list the library cannot give (settings never
  // loaded, no catalog) stays empty; the window shows what it has.
  void Show(const CSettings& settings, const CResources* catalog);

  // Rebuilds the selection from the ticks and puts it into the settings.
  void Commit(CSettings& settings);

  // Adds `names` at the end of the list, ticked, and commits.
  void Add(const std::vector<std::string>& names, CSettings& settings);

 private:
  QListWidget* list_;
  ListOrder order_;
  std::string defaultName_;
  Available available_;
  Selected selected_;
  Select select_;
  std::vector<std::string> availableNames_, selectedNames_;
};

}  // namespace kv::settings
