// A stand-in for the desktop's blocking calls: records every box, file dialog, modal run and
// address, and answers from the test's script, so nothing waits for a person.
#pragma once

#include <QMimeData>
#include <QUrl>
#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include "ui/framework/blocking.h"

struct BoxCall {
    QWidget* owner;
    QString text;
    QString caption;
    unsigned type;
    bool operator==(const BoxCall&) const = default;
};
inline void PrintTo(const BoxCall& b, std::ostream* os) {
    *os << b.owner << " \"" << b.text.toStdString() << "\" \"" << b.caption.toStdString() << "\" "
        << b.type;
}

class ScriptedBlocking final : public BlockingCalls {
  public:
    std::vector<BoxCall> boxes;
    // One answer per box, in order; with none left a plain OK box is answered IDOK. An answer
    // may run the event loop first, as a person looking at the box would let time pass.
    std::deque<std::function<int(const BoxCall&)>> boxAnswers;

    std::vector<FileDialogRequest> fileRequests;
    std::deque<std::optional<QString>> fileAnswers;

    // One script per modal run: it gets the shown dialog and must end it.
    std::deque<std::function<void(CDialog&)>> modalScripts;

    std::vector<QUrl> urls;

    int messageBox(QWidget* owner, const QString& text, const QString& caption,
                   unsigned type) override {
        boxes.push_back({owner, text, caption, type});
        if (boxAnswers.empty()) {
            EXPECT_EQ(type & MB_TYPEMASK, MB_OK) << "unscripted question: " << text.toStdString();
            return IDOK;
        }
        auto answer = std::move(boxAnswers.front());
        boxAnswers.pop_front();
        return answer(boxes.back());
    }
    std::optional<QString> chooseFile(QWidget*, const FileDialogRequest& request) override {
        fileRequests.push_back(request);
        EXPECT_FALSE(fileAnswers.empty()) << "unscripted file dialog";
        if (fileAnswers.empty()) return std::nullopt;
        // Taken apart by hand: g++ -O2 wrongly warns about copying an optional QString here.
        const QString path = fileAnswers.front().value_or(QString());
        const bool chosen = fileAnswers.front().has_value();
        fileAnswers.pop_front();
        return chosen ? std::optional<QString>(path) : std::nullopt;
    }
    int runModal(CDialog& dialog) override;
    bool openUrl(const QUrl& url) override {
        urls.push_back(url);
        return true;
    }

  private:
    ScopedBlockingCalls scope_{*this};
};

// Runs the event loop until `done` holds; fails the test if it has not after a long while.
void runEventsUntil(const std::function<bool()>& done);

// Shows a window and waits until it has the keyboard, as a person would find it.
void showActive(QWidget& window);

// A URI list as another program offers it in a drop: the bytes as they were sent. (QMimeData's
// own setData would turn them into QUrls first, which does not keep every byte.)
class RawUriList final : public QMimeData {
  public:
    explicit RawUriList(QByteArray bytes) : bytes_(std::move(bytes)) {}
    QStringList formats() const override { return {QStringLiteral("text/uri-list")}; }

  protected:
    QVariant retrieveData(const QString& mimeType, QMetaType) const override {
        return mimeType == QLatin1String("text/uri-list") ? QVariant(bytes_) : QVariant();
    }

  private:
    QByteArray bytes_;
};
