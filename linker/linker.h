#pragma once

#include "event_counter.h"
#include "operator_prompt.h"
#include "packing_workflow.h"

#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class KMsg;
class KTag;
class srvLink;
class usbLink;

// Hub of the key protocol: receives every key message and dispatches it by type,
// sends the program's own messages, relays payload between the key and the relay
// server, and drives the dashboard through its signals. Its own thread is never
// started: it lives and runs on the GUI thread.
class cLinker : public QThread
{
    Q_OBJECT
public:
    // Seconds since 1970-01-01 00:00 UTC.
    using Clock = std::function<int64_t()>;

    // Talks to the key through link (not owned) and starts the link's thread.
    explicit cLinker(usbLink *link, QObject *parent = nullptr);
    ~cLinker() override;

    // The single instance, created on first use on usbLink::get().
    static cLinker *get();
    // Deletes the single instance (program exit): last disconnect, link stopped.
    static void destroyInstance();

    // Where the linker's operator messages go; not owned. Without one they are logged.
    void setPrompt(OperatorPrompt *prompt) { operatorPrompt = prompt; }
    void setClock(Clock clock);

    // Packing workflow: its dialogs (not owned) and the controller behind the slots.
    void setWorkflowDialogs(WorkflowDialogs *dialogs);
    PackingWorkflow &packingWorkflow();

    srvLink *relay() const { return serverLink; }
    bool isKeyReady() const { return keyNotReady == 0; }
    int softwareVersion() const { return swVersion; }
    QString serialText() const { return QString::fromUtf8(serial); }
    QString boxText() const { return QString::fromUtf8(box); }
    QString swText() const { return QString::fromUtf8(SW); }
    QString hwText() const { return QString::fromUtf8(HW); }
    QString serverText() const { return QString::fromUtf8(server); }
    QString serverPortText() const { return QString::fromUtf8(serverPort); }
    QString serviceHostText() const { return QString::fromUtf8(serviceHost); }
    QString servicePortText() const { return QString::fromUtf8(servicePort); }
    QString scannedTag() const { return scannedRfid; }

    // Sends one message to the key, followed by the filler byte. Returns the
    // serialized size, or 0 when the message did not serialize. The message is
    // queued for the USB link's writer, so this never waits for the key.
    int sendMessage(const KMsg &msg);
    void parseVersion();

    // Largest relay payload that fits one message to the key.
    static constexpr int maxRelayPayload = 1018;

    // The relay's paths that bypass the GUI thread; both are safe from any
    // thread. relayFromKey sees every key payload on the USB link's thread and
    // takes relay data (MSG_DATA) straight to the server link, unless earlier
    // key messages are still waiting for the GUI thread (then it returns false
    // and the payload goes through receiveUSB in order). relayFromServer takes a
    // datagram from the server link's thread to the key's writer, with the same
    // checks as sendUSB: a key that has not identified itself gets nothing, and
    // more than maxRelayPayload bytes are dropped. Traffic arrows for both are
    // emitted on the GUI thread.
    bool relayFromKey(const QByteArray &payload);
    void relayFromServer(const uint8_t *buff, int len);

signals:
    void updateLabel(uint Type, QString str);
    void updateLabelColor(uint Type, QString str);
    void updateStatus(QString str);
    void updateStatusColor(QString str);
    void updatePbar(int value);
    void updatePbarColor(int color);
    void setBtnEnabled(bool val);
    void nvmReady(QString box, QString serial, QString SW, QString HW, QString server);
    void usbConnected(bool stat);
    void keyDisconnected();
    void serverConnected(bool stat);
    void serverDisConnected();
    // Valid only during the emission.
    void sendToServer(const uint8_t *buff, int len);
    void progressBar(uint8_t progress);
    void updateProgressOld(bool enable);
    void setReqBtn(bool enable);
    void setBattery(int val);
    void setManual(bool val);
    void setTransCount(int val);
    void setLayout(int View);
    // 0 to the key, 1 from the key, 2 to the server link, 3 from the server link.
    void TransferBusy(int i);

public slots:
    void tryConnectKey(bool stat);
    void connectKeynew();
    void connectKey();
    void disConnectKey();
    void sendUSB(const uint8_t *buff, int len);
    void receiveUSB(QByteArray payload);
    void requestTransfer();
    void requestScanTag();
    void requestOpen();
    void requestClose();
    // The packing workflow's slots join here, defined in linker/workflow*.cpp.
    void loginnext(QString User, QString Pass);
    void TTnext(Timetable *timetable);
    void CenterNext(ExamSchedule *center);
    void CenterBack();
    // Finish on the confirm dialog opened with this id.
    void ConfirmPacking(ConfirmationId confirmation, QString comment);
    void ConfirmBack();

protected:
    // Entry of the packing workflow after a scan that found a lock tag
    // (scannedRfid holds its decimal text). Defined in linker/workflow_entry.cpp.
    virtual void startWorkflow();

    // Shows a modal message through the prompt, or logs it without one.
    void tellOperator(OperatorPrompt::Kind kind, const QString &title, const QString &text);

private slots:
    void receiveFromLink(QByteArray payload);
    void emitTraffic();

private:
    // What the relay threads may read of the linker's state, kept in step by
    // publishRelayState() whenever keyNotReady or swVersion change.
    enum RelayState { KeyReady = 1, PacedKey = 2 };
    void publishRelayState();
    void noteTraffic(int direction);
    // Payload from the server that does not fit one message to the key is
    // dropped (counted, logged at most once a second).
    bool fitsKeyMessage(int len);
    static std::unique_ptr<KMsg> dataMessage(const uint8_t *buff, int len);
    int queueForKey(const uint8_t *payload, int n, bool paced, bool fromRelay);
    void handleRequset(KMsg *msg);
    bool connectServer(bool open);
    void handleSet(KMsg *msg);
    void applyKeyBar(uint8_t v);
    void decodeScan(const KTag &tag);
    void finishIdentity();
    int sendRequest(uint8_t type, uint8_t tagId);

    usbLink *usb = nullptr;
    srvLink *serverLink = nullptr;
    OperatorPrompt *operatorPrompt = nullptr;
    Clock clock;

    int keyNotReady = 1;
    char serial[32] = {};
    char box[32] = {};
    int swVersion = 0;
    char SW[32] = {};
    char HW[32] = {};
    char server[64] = {};
    char serverPort[16] = {};
    char serviceHost[64] = {};
    char servicePort[16] = {};
    int labelIndex = -1;
    // One byte more than the largest message, for the filler byte.
    uint8_t workBuffer[1025] = {};
    QString statusText;
    int manualMode = 0;
    int modeBit1 = 0;
    QString scannedRfid;
    std::atomic<int> relayState {0};
    EventCounter oversizeDrops;
    std::atomic<int> pendingTraffic {0}; // TransferBusy directions not yet emitted, as bits
    std::atomic<bool> trafficScheduled {false}; // an update is posted or waits for its turn
    static constexpr int kTrafficMs = 50;
    std::atomic<int> guiBacklog {0}; // key messages handed to the GUI thread and not yet handled
    // Packing workflow state joins here.
    std::unique_ptr<PackingWorkflow> workflow;
    WorkflowDialogs *workflowDialogs = nullptr;
};
