#pragma once

#include <QString>

class cLinker;
class Redactor;
class usbLink;

// The key as the linker last heard of it.
struct KeyFacts
{
    bool attached = false;
    QString serial;
    QString box;
    QString software;
    QString hardware;
};

// What a person helping the operator wants to know about this program and its key.
struct ProgramFacts
{
    QString version;
    QString build;
    QString qt;
    QString usbStack;
    QString system;
    KeyFacts key;
    QString accessProblem; // the waiting view's hint, if any
    QString serviceEndpoint; // empty until the key names it
    QString relayEndpoint;
    QString packingLog;
    QString linkFigures; // the key link's own figures since start, one per line
};

ProgramFacts collectFacts(cLinker &linker, const usbLink &link);

// The secrets the program holds now (password, its digest, session token, the
// latest seal comments), for hiding them in what is handed out.
void addProgramSecrets(cLinker &linker, Redactor &redactor);
