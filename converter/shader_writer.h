// The shader declarations of the shader file, one per material the converted solids use.
#pragma once

#include <string>
#include <vector>

#include "converter/model.h"

namespace quorva::converter {

struct ShaderUse {
    std::string name;  // as written (a scene-language name)
    Material material;
    std::vector<std::string> objects;  // the solids that use it, in writing order
};

// The values of faces without a material: diffuse 0.8 grey, no specular.
Material defaultMaterial();

// "Declare <name> = Shader [ ... ]" with the comment lines naming its solids.
std::string shaderDeclaration(const ShaderUse& shader);

}  // namespace quorva::converter
