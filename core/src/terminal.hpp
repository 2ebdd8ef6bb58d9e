#pragma once
// Whether terminal renderings carry colour codes. Decided once per process,
// on first use, from CLICOLOR_FORCE, NO_COLOR, CLICOLOR and isatty(1).
namespace tavik {

bool terminal_colors_enabled();

}  // namespace tavik
