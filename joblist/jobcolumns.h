#pragma once
// The job table's columns belong to the row model, below the job list.

#include "compose/jobcolumns.h"
