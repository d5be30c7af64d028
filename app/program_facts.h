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
    // The working folder, where the web service client writes its trace files.
    QString traceFolder;
    bool traceFolderWritable = false;
    QString licence;
    QString notices; // the third-party notices file, empty when not installed
    QString linkFigures; // the key link's own figures since start, one per line
};

// The third-party notices file installed with the program, or empty.
QString thirdPartyNoticesPath();

ProgramFacts collectFacts(cLinker &linker, const usbLink &link);

// The secrets the program holds now (password, its digest, session token, the
// latest seal comments), for hiding them in what is handed out.
void addProgramSecrets(cLinker &linker, Redactor &redactor);
