#pragma once

#include <QObject>

class ServiceParsersTest : public QObject
{
    Q_OBJECT
private slots:
    void envelopeCodeTruncatesTowardZero_data();
    void envelopeCodeTruncatesTowardZero();
    void envelopeReadsMessageAndSfcAndIgnoresOtherCase();
    void nullDocumentYieldsNull();
    void singleParsersRejectNonObjectResults();
    void listParsersRejectNonObjectResults();
    void listPageWithoutItems();
    void timetableRules();
    void examScheduleDefaultsAndWrongTypes();
    void lockStatesAreCaseSensitive();
    void lockCoordinatesAndIds();
    void sealAndLoginRecords();
    void listElementsThatAreNotObjects();
    void queryBuilders();
    void queryBuildersEncodeReservedCharacters();
    void marshalOutputs();
    void putBodiesKeepOrderAndEscape();
    void consoleLinesOfParsers();
};
