// Object and material names turned into names the scene language accepts.
#pragma once

#include <set>
#include <string>

namespace quorva::converter {

// Characters other than letters, digits and '_' become '_'; a leading digit or an empty name gets a
// leading '_'; a reserved word gets a trailing '_'. The same 3DS name always gives the same result.
std::string sceneName(const std::string& name);

// A declared object and a shader share one symbol table in the renderer, so a declared solid must not
// take a shader's name: `name` itself when `taken` lacks it, else `name` with "_" appended, then "_2",
// "_3" ... until free. The name is cut to keep each candidate within `maxName` characters.
std::string distinctName(const std::string& name, const std::set<std::string>& taken,
                         std::size_t maxName = std::string::npos);

}  // namespace quorva::converter
