#pragma once

// Long work off the GUI thread: the work runs on a worker thread while the
// window is disabled and a modal progress dialog, shown when the work takes
// more than half a second, owns the input. How the work ended comes back as a
// signal on the GUI thread.

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class QProgressDialog;
class QThread;
class QTimer;
class QWidget;

class LongWork : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Completed,
        Cancelled,
        Failed,
    };
    // Called by the work with how much is done (0 to the maximum); false once
    // the user has asked to stop.
    using Progress = std::function<bool(int done)>;
    // Runs on the worker thread; says how it ended. An exception is a failure.
    using Work = std::function<Outcome(const Progress& progress)>;

    // The progress dialog shows label, counts to maximum and is modal to window.
    LongWork(QWidget* window, const QString& label, int maximum);
    // Waits for a work still running.
    ~LongWork() override;

    // Returns at once; one of the signals tells the end. One work at a time.
    void Start(Work work);
    // Starts and returns when the work has ended, events handled meanwhile.
    Outcome Run(Work work);
    bool IsRunning() const { return m_thread != nullptr; }
    // What the progress dialog's cancel button does.
    void Cancel();
    QProgressDialog* progressDialog() const { return m_progress.get(); }

signals:
    void completed();
    void cancelled();
    void failed();

private:
    void ShowProgress();
    void Finish();

    QPointer<QWidget> m_window;
    QPointer<QWidget> m_focus; // where the focus was before the window was disabled
    std::unique_ptr<QProgressDialog> m_progress;
    QTimer* m_poll = nullptr;
    QThread* m_thread = nullptr;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_done{0};
    Outcome m_outcome = Outcome::Completed; // written by the worker, read after it ended
};
