#pragma once
#include <string>

namespace pellavo {

// The registry's filter string ("All (*.a;*.b)|*.a;*.b|A image (*.a)|*.a") in the syntax of
// Qt's file dialogs ("All (*.a *.b);;A image (*.a)"): each description keeps its text and
// takes its own pattern list in parentheses.
std::string QtFileFilter(const std::string& filter);

}  // namespace pellavo
