// The class records of every list, by the name a tree node carries.
#pragma once

#include <string_view>

#include "manager/list_context.h"

namespace korvo::manager {

// Null for a name no list has.
const ListClass* FindListClass(std::string_view name);

}  // namespace korvo::manager
