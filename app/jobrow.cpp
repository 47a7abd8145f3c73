#include "app/jobrow.h"

#include "joblist/jobcolumns.h"
#include "joblist/jobtable.h"

namespace kestrovia {

JobSettings jobSettingsAt(const JobTable &table, int row)
{
    JobSettings job;
    job.path = table.TextMatrix(row, ColPath);
    job.newSize = table.TextMatrix(row, ColNewSize);
    job.fit = table.TextMatrix(row, ColFit);
    job.backColor = table.TextMatrix(row, ColBackColor);
    job.position = table.TextMatrix(row, ColPosition);
    job.rotation = table.TextMatrix(row, ColRotation);
    return job;
}

} // namespace kestrovia
