// Object and material names turned into names the scene language accepts.
#pragma once

#include <string>

namespace quorva::converter {

// Characters other than letters, digits and '_' become '_'; a leading digit or an empty name gets a
// leading '_'; a reserved word gets a trailing '_'. The same 3DS name always gives the same result.
std::string sceneName(const std::string& name);

}  // namespace quorva::converter
