#include "CheckedNames.h"

#include <QListWidget>
#include <QSignalBlocker>
#include <algorithm>

#include "kvplatform/base/Log.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"

namespace kv::settings {

CheckedNames::CheckedNames(QListWidget* list, ListOrder order, std::string_view defaultName, Available available,
                           Selected selected, Select select)
    : list_(list), order_(order), defaultName_(defaultName), available_(available), selected_(selected),
      select_(select) {}

void CheckedNames::Show(const CSettings& settings, const CResources* catalog) {
  availableNames_.clear();
  selectedNames_.clear();
  if (!catalog || !(catalog->*available_)(availableNames_)) availableNames_.clear();
  if (!(settings.*selected_)(selectedNames_)) selectedNames_.clear();
  FillCheckedList(list_, availableNames_, selectedNames_, order_);
}

void CheckedNames::Commit(CSettings& settings) {
  CollectCheckedItems(list_, selectedNames_, defaultName_);
  if (auto set = (settings.*select_)(selectedNames_); !set) platform::LogError(set.error().message);
}

void CheckedNames::Add(const std::vector<std::string>& names, CSettings& settings) {
  // A list that offered nothing holds one empty name; the new names take its place.
  std::erase(availableNames_, std::string());
  std::vector<std::string> ticked = selectedNames_;
  for (const std::string& name : names) {
    availableNames_.push_back(name);
    ticked.push_back(name);
  }
  {
    QSignalBlocker quiet(list_);
    FillCheckedList(list_, availableNames_, ticked);
  }
  Commit(settings);
}

}  // namespace kv::settings
