#include "app/longwork.h"

#include "core/messages.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <exception>

namespace {

constexpr int SHOW_AFTER_MS = 500;
constexpr int POLL_MS = 50;

} // namespace

LongWork::LongWork(QWidget* window, const QString& label, int maximum)
    : m_window(window),
      m_progress(std::make_unique<QProgressDialog>(
          label, QString::fromUtf8(voicelib::MessageText(voicelib::Msg::CaptionCancel)), 0, maximum, window)),
      m_poll(new QTimer(this))
{
    m_progress->setWindowTitle(QString::fromUtf8(voicelib::MessageText(voicelib::Msg::Prompt)));
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setMinimumDuration(SHOW_AFTER_MS);
    m_progress->reset(); // no showing before the first Start
    connect(m_progress.get(), &QProgressDialog::canceled, this, [this] { m_stop = true; });
    connect(m_poll, &QTimer::timeout, this, [this] { ShowProgress(); });
}

LongWork::~LongWork()
{
    if (m_thread) {
        m_stop = true;
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
        m_poll->stop();
        QGuiApplication::restoreOverrideCursor();
        if (m_window)
            m_window->setEnabled(true);
    }
}

void LongWork::Start(Work work)
{
    if (m_thread)
        return;
    m_stop = false;
    m_done = 0;
    m_outcome = Outcome::Failed;
    if (m_window) {
        m_focus = m_window->focusWidget();
        // The window takes no input now, whatever kind it is; the progress
        // dialog, a window of its own, stays enabled for its cancel.
        m_window->setEnabled(false);
    }
    m_progress->setEnabled(true);
    m_progress->reset();
    m_progress->setValue(0); // starts the clock that shows the dialog after a while
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);

    const Progress progress = [this](int done) {
        m_done = done;
        return !m_stop.load();
    };
    m_thread = QThread::create([this, work = std::move(work), progress] {
        try {
            m_outcome = work(progress);
        } catch (const std::exception&) {
            m_outcome = Outcome::Failed;
        }
    });
    connect(
        m_thread, &QThread::finished, this, [this] { Finish(); }, Qt::QueuedConnection);
    m_poll->start(POLL_MS);
    // Events that came before the start are handled first: a cancel among
    // them stops the work before it begins.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_thread)
                return;
            ShowProgress();
            m_thread->start();
        },
        Qt::QueuedConnection);
}

LongWork::Outcome LongWork::Run(Work work)
{
    QEventLoop loop;
    for (auto signal : {&LongWork::completed, &LongWork::cancelled, &LongWork::failed})
        connect(this, signal, &loop, &QEventLoop::quit);
    Start(std::move(work));
    if (IsRunning())
        loop.exec();
    return m_outcome;
}

void LongWork::Cancel()
{
    m_stop = true;
}

void LongWork::ShowProgress()
{
    if (m_progress->wasCanceled())
        m_stop = true;
    else
        m_progress->setValue(m_done.load());
}

void LongWork::Finish()
{
    if (!m_thread)
        return;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_poll->stop();
    QGuiApplication::restoreOverrideCursor();
    // Hidden, not deleted: a modal dialog's setValue may be handling events
    // below us. The reset keeps a dialog not shown yet from showing later.
    m_progress->reset();
    m_progress->hide();
    if (m_window) {
        m_window->setEnabled(true);
        if (m_focus)
            m_focus->setFocus();
    }
    switch (m_outcome) {
    case Outcome::Completed:
        emit completed();
        break;
    case Outcome::Cancelled:
        emit cancelled();
        break;
    case Outcome::Failed:
        emit failed();
        break;
    }
}
