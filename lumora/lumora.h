#pragma once

/// liblumora: every C++ service of the library. Include the single headers to take less.

#include <lumora/lumora_export.h>
#include <lumora/text/encoding.h>
#include <lumora/text/string_functions.h>
#include <lumora/text/u_orlen_fun.h>
#include <lumora/text/u_orlen_md5.h>
