#include "linker.h"
#include "linker_log.h"

// Entry of the packing workflow (login, timetable, exam centre, lock lookup,
// confirmation). Until the workflow is built here, a scan only records its
// text (done by the caller) and says so in the log.
void cLinker::startWorkflow()
{
    qCDebug(lcLinker) << "packing workflow not available; scanned tag" << scannedRfid
                      << "recorded only";
}
