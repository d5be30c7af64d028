#include "linker.h"
#include "linker_log.h"
#include "packing_workflow.h"

// The packing workflow's entry and slots: thin forwards to the controller.

PackingWorkflow &cLinker::packingWorkflow()
{
    if (!workflow)
        workflow = std::make_unique<PackingWorkflow>();
    // The prompt and dialogs may be set before or after the controller exists.
    workflow->setPrompt(operatorPrompt);
    workflow->setDialogs(workflowDialogs);
    return *workflow;
}

void cLinker::setWorkflowDialogs(WorkflowDialogs *dialogs)
{
    workflowDialogs = dialogs;
    packingWorkflow();
}

void cLinker::startWorkflow()
{
    packingWorkflow().start(serviceHostText(), servicePortText(), scannedRfid);
}

void cLinker::loginnext(QString User, QString Pass)
{
    packingWorkflow().loginNext(User, Pass);
}

void cLinker::TTnext(Timetable *timetable)
{
    packingWorkflow().timetableNext(timetable);
}

void cLinker::CenterNext(ExamSchedule *center)
{
    packingWorkflow().centreNext(center);
}

void cLinker::CenterBack()
{
    packingWorkflow().centreBack();
}

void cLinker::ConfirmPacking(ConfirmationId confirmation, QString comment)
{
    packingWorkflow().confirmPacking(confirmation, comment);
}

void cLinker::ConfirmBack()
{
    packingWorkflow().confirmBack();
}
