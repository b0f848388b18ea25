// The user table: each configured user name with its password digest, names in byte-string
// order. Filled once by the configuration reader before the listener starts; read without a lock
// by the sessions afterwards, and never changed while they run.
#pragma once

#include <map>
#include <string>

#include "values/byte_string_order.h"

namespace qn {

using user_table = std::map<std::string, std::string, byte_string_less>;

}  // namespace qn
