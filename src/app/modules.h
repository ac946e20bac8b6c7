// Start-up registration of every module's command table and BASIC function table.
#pragma once

namespace tarn {

// Calls the module routines in their fixed order (BASIC functions, core commands, file
// commands, ..., set, alias, platform, variables, boot, drivers, disk and clock tools,
// hardware, network). Called once by the shell main routine before anything else runs.
void register_modules();

}  // namespace tarn
