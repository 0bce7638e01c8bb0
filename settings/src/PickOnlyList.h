#pragma once

// The window's drop-down lists: pick-only (no text can be typed in), a
// drop-down of at most kVisibleRows rows with a scroll bar however long the
// list is, and a wheel that turns only a list that has the focus, so that
// every change the user sees is committed when the list loses the focus.

#include <QComboBox>

namespace kv::settings {

inline constexpr int kVisibleRows = 12;

void MakePickOnly(QComboBox* list);

}  // namespace kv::settings
