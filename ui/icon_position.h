// Where the icon goes while the dialog is minimised.
#pragma once

namespace kv {

// Offset that centres an icon of iconSize pixels in clientSize pixels. Signed
// division truncating toward zero: a client of 0 and an icon of 32 give -15.
constexpr int CenteredIconOffset(int clientSize, int iconSize) {
  return (clientSize - iconSize + 1) / 2;
}

}  // namespace kv
