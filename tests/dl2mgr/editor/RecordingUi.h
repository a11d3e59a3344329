#pragma once

#include "dl2mgr/editor/EditorUi.h"

#include <deque>
#include <string>
#include <vector>

namespace dl2mgr::editor {

// Records every box and answers the file dialogs from a queue (nothing queued: cancel).
class RecordingUi : public EditorUi {
public:
    void ShowBox(const MessageBox& box) override { Boxes.push_back(box); }
    // Answers from a queue; nothing queued: Cancel.
    Answer Ask(const Question& question) override {
        Questions.push_back(question);
        if (Answers.empty()) return Answer::Cancel;
        const Answer answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    std::optional<std::string> ChooseOpenFile() override { return Next(); }
    std::optional<std::string> ChooseSaveFile() override { return Next(); }
    void LetWindowRepaint() override { ++Repaints; }
    bool OpenHelp(const std::string& path) override {
        HelpOpened.push_back(path);
        return HelpViewerWorks;
    }
    void ShowAbout() override { ++AboutShown; }
    void Quit(int exitCode) override { QuitCodes.push_back(exitCode); }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : Boxes)
            texts.push_back(box.Text);
        return texts;
    }

    std::vector<MessageBox> Boxes;
    std::vector<Question> Questions;
    std::deque<Answer> Answers;
    std::deque<std::optional<std::string>> FileAnswers;
    int Repaints = 0;
    std::vector<std::string> HelpOpened;
    bool HelpViewerWorks = true;
    int AboutShown = 0;
    std::vector<int> QuitCodes;

private:
    std::optional<std::string> Next() {
        if (FileAnswers.empty()) return std::nullopt;
        auto answer = FileAnswers.front();
        FileAnswers.pop_front();
        return answer;
    }
};

} // namespace dl2mgr::editor
