// The filter text of the add-videos dialog: seven "label|patterns|" pairs.
#pragma once

#include <cstddef>
#include <string>

namespace vidmora {

constexpr std::size_t OpenFilterCapacity = 2024;

// "All supported files|*.AVI;*.MPG;...|Video Files (*.avi;...)|*.AVI;...|...|All Files (*)|*|"
// A pair that would make the text longer than capacity - 1 characters is cut at that length.
std::string buildOpenFilter(std::size_t capacity = OpenFilterCapacity);

}  // namespace vidmora
