#pragma once

// The window's three check lists (fonts, backgrounds, quotes files): list
// widgets with a check box in front of every entry. Each entry keeps the
// name exactly as the catalog gave it (any bytes, as file names may hold), and
// shows it decoded for reading; matching and saving use the exact bytes, so a
// name never changes on its way through the window.

#include <string>
#include <string_view>
#include <vector>

class QListWidget;
class QListWidgetItem;

namespace kv::settings {

enum class ListOrder { AsGiven, Alphabetical };

// Refills `list` with the names of `available` that are not blank (blank ones
// are skipped; the others are kept untrimmed), in alphabetical order (letter
// case ignored, ties kept as given) when asked. Then checks, for each name of
// `selected`, the first entry whose name equals it exactly (letter case
// counts); names no entry holds are ignored. No entry is left highlighted.
void FillCheckedList(QListWidget* list, const std::vector<std::string>& available,
                     const std::vector<std::string>& selected, ListOrder order = ListOrder::AsGiven);

// Rebuilds `selected` from the check marks, in the list's order; with no
// mark set it becomes the one name `defaultName`.
void CollectCheckedItems(const QListWidget* list, std::vector<std::string>& selected, std::string_view defaultName);

// The exact name an entry stands for.
std::string EntryName(const QListWidgetItem* item);

}  // namespace kv::settings
