// The language quick reference and the function overview shown by help.
#pragma once

namespace tarn {

extern const char kQuickReference[];
extern const char kFunctionOverview[];

}  // namespace tarn
