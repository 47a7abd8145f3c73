#pragma once
// The composition settings of one job row, as the batch run and the preview
// both read them: the cell texts, converted later by the composition itself.

#include "compose/jobcompose.h"

namespace kestrovia {

class JobTable;

JobSettings jobSettingsAt(const JobTable &table, int row);

} // namespace kestrovia
