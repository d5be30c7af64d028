#pragma once

#include <QWidget>

#include <functional>

class KeyWindow;
class QVBoxLayout;
class WaitWindow;

// The program's only top-level window: the waiting view or the key dashboard,
// one at a time, at a fixed size per view. A view whose contents need more room
// (a large font, a long text) gets it: the window grows, it never clips.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    enum View { Waiting = 0, Dashboard = 1 };

    // `beforeTeardown` runs first in the destructor, while both views still exist:
    // the program deletes the linker there, so nothing it emits reaches a dead view.
    explicit MainWindow(const QString &imageDir, std::function<void()> beforeTeardown = {},
                        QWidget *parent = nullptr);
    ~MainWindow() override;

    // Runs `beforeTeardown` now, once; the destructor then skips it. For an end
    // that may not reach the destructor (the desktop session ending).
    void tearDown();

    KeyWindow *dashboard() const { return keyWindow; }
    WaitWindow *waitView() const { return waitWindow; }

public slots:
    void setLayout(int View);

protected:
    bool event(QEvent *event) override;

private:
    // Fixes the window at the current view's size, or larger where its contents need it.
    void fitView();

    QVBoxLayout *box;
    WaitWindow *waitWindow;
    KeyWindow *keyWindow;
    QSize viewSize;
    std::function<void()> teardown;
};
