#include "CheckList.h"

#include <QByteArray>
#include <QHash>
#include <QListWidget>
#include <algorithm>

#include "kvplatform/base/Text.h"

namespace kv::settings {
namespace {

constexpr int kNameRole = Qt::UserRole;

QString Readable(const std::string& name) {
  std::u32string codes = platform::DecodeText(name);
  return QString::fromUcs4(codes.data(), static_cast<qsizetype>(codes.size()));
}

QByteArray Bytes(const std::string& name) { return QByteArray(name.data(), static_cast<qsizetype>(name.size())); }

}  // namespace

std::string EntryName(const QListWidgetItem* item) {
  QByteArray bytes = item->data(kNameRole).toByteArray();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void FillCheckedList(QListWidget* list, const std::vector<std::string>& available,
                     const std::vector<std::string>& selected, ListOrder order) {
  list->clear();

  struct Entry {
    const std::string* name;
    QString readable;
  };
  std::vector<Entry> entries;
  entries.reserve(available.size());
  for (const std::string& name : available) {
    if (!platform::TrimSpaces(name).empty()) entries.push_back({&name, Readable(name)});
  }
  if (order == ListOrder::Alphabetical) {
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      return QString::compare(a.readable, b.readable, Qt::CaseInsensitive) < 0;
    });
  }

  // The first entry of each exact name, so that checking a long selection in
  // a long list stays quick.
  QHash<QByteArray, QListWidgetItem*> firstEntry;
  firstEntry.reserve(static_cast<qsizetype>(entries.size()));
  list->setUpdatesEnabled(false);
  for (const Entry& entry : entries) {
    auto* item = new QListWidgetItem(entry.readable);
    QByteArray bytes = Bytes(*entry.name);
    item->setData(kNameRole, bytes);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    list->addItem(item);
    if (!firstEntry.contains(bytes)) firstEntry.insert(bytes, item);
  }
  for (const std::string& name : selected) {
    if (auto found = firstEntry.constFind(Bytes(name)); found != firstEntry.constEnd()) {
      (*found)->setCheckState(Qt::Checked);
    }
  }
  list->setUpdatesEnabled(true);

  if (list->count() > 0) {
    list->setCurrentItem(nullptr);
    list->clearSelection();
  }
}

void CollectCheckedItems(const QListWidget* list, std::vector<std::string>& selected, std::string_view defaultName) {
  selected.assign(1, std::string());
  std::vector<std::string> checked;
  for (int row = 0; row < list->count(); ++row) {
    const QListWidgetItem* item = list->item(row);
    if (item->checkState() == Qt::Checked) checked.push_back(EntryName(item));
  }
  if (checked.empty()) {
    selected[0] = std::string(defaultName);
  } else {
    selected = std::move(checked);
  }
}

}  // namespace kv::settings
