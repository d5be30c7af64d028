#pragma once

// QtTest 5.15 keeps its list of expected messages without a lock, and its
// message handler walks and edits that list on whichever thread logs. Suites
// whose link threads log while the test thread sets expectations call
// testlog::serialize() in initTestCase() and set expectations with expectLog():
// QtTest's handler then runs under a lock, and every expectation is added under
// the same lock.

#include <QTest>

#include <mutex>

namespace testlog {

inline std::recursive_mutex &lock()
{
    static std::recursive_mutex mutex;
    return mutex;
}

inline QtMessageHandler &chained()
{
    static QtMessageHandler handler = nullptr;
    return handler;
}

inline void serializedHandler(QtMsgType type, const QMessageLogContext &context,
                              const QString &text)
{
    std::lock_guard<std::recursive_mutex> guard(lock());
    if (chained())
        chained()(type, context, text);
}

// Wraps the handler QtTest installed; again after QtTest replaced it.
inline void serialize()
{
    std::lock_guard<std::recursive_mutex> guard(lock());
    const QtMessageHandler previous = qInstallMessageHandler(serializedHandler);
    if (previous != serializedHandler)
        chained() = previous;
}

} // namespace testlog

template<class Pattern>
void expectLog(QtMsgType type, const Pattern &pattern)
{
    testlog::serialize();
    std::lock_guard<std::recursive_mutex> guard(testlog::lock());
    QTest::ignoreMessage(type, pattern);
}
