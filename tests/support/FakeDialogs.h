#pragma once

#include "app/Dialogs.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

#include <ostream>

// Lets test failures show texts instead of bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace orv::test {

// Records every box the program shows and answers its questions from a script.
class FakeDialogs final : public app::Dialogs {
public:
    struct Message {
        QString text;
        QString title;
        app::MessageIcon icon;
        QString details{};
    };

    void message(QWidget*, const QString& text, const QString& title, app::MessageIcon icon,
                 const QString& details) override {
        messages.push_back({text, title, icon, details});
        if (onMessage)
            onMessage();
    }
    bool askYesNo(QWidget*, const QString& text, const QString& title) override {
        questions.push_back({text, title, app::MessageIcon::None});
        bool answer = answers.empty() ? false : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return answer;
    }
    QString saveFileName(QWidget*, const QString& title, const QString& filter) override {
        saveDialogs.push_back({title, filter});
        if (onSaveDialog)
            onSaveDialog();
        QString path = fileNames.empty() ? QString() : fileNames.front();
        if (!fileNames.empty())
            fileNames.pop_front();
        return path;
    }

    QStringList texts() const {
        QStringList all;
        for (const Message& m : messages)
            all << m.text;
        return all;
    }

    std::vector<Message> messages;
    std::vector<Message> questions;
    std::vector<std::pair<QString, QString>> saveDialogs;
    std::deque<bool> answers;
    std::deque<QString> fileNames;
    std::function<void()> onMessage;
    std::function<void()> onSaveDialog;
};

} // namespace orv::test
