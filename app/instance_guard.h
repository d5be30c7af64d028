#pragma once

class QWidget;
class SingleInstance;

// Decides whether this start runs the program. True: go on. False: another
// instance runs and exitCode is set; it was either asked to show its window, or
// it did not answer and the operator has been told so.
bool runAsOnlyInstance(SingleInstance &instance, int &exitCode);

// Brings the window forward, out of the minimised state, whenever a later start asks.
void raiseWhenAsked(SingleInstance &instance, QWidget *window);
