#pragma once

/// liblumora: every C++ service of the library. Include the single headers to take less.

#include <lumora/controls/u_statusbar.h>
#include <lumora/controls/uo_ddlb.h>
#include <lumora/controls/uo_dh_edit.h>
#include <lumora/controls/uo_editmask.h>
#include <lumora/controls/uo_tooltip.h>
#include <lumora/export/grid_export.h>
#include <lumora/host.h>
#include <lumora/lumora_export.h>
#include <lumora/menu/menu.h>
#include <lumora/menu/n_cst_menu.h>
#include <lumora/numeric/bitops.h>
#include <lumora/numeric/n_cst_numerical.h>
#include <lumora/numeric/typeinfo.h>
#include <lumora/sysinfo/colors.h>
#include <lumora/sysinfo/probes.h>
#include <lumora/sysinfo/structures.h>
#include <lumora/text/encoding.h>
#include <lumora/text/string_functions.h>
#include <lumora/text/u_orlen_fun.h>
#include <lumora/text/u_orlen_md5.h>
#include <lumora/timing/n_cst_tmgsingle.h>
#include <lumora/timing/n_tmg.h>
