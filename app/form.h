#pragma once
#include <QWidget>
#include <vector>

#include "job_setup.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace fwprep::app {

// One of the two screens: three labelled fields and two buttons at fixed
// places. Both screens use the same control names for the same roles; what
// differs (captions, places, tab order, which button runs the job) comes from
// the screen's own table.
class Form : public QWidget {
    Q_OBJECT
public:
    QLineEdit* text1() const { return text1_; } // count field
    QLineEdit* text2() const { return text2_; } // width field
    QLineEdit* text3() const { return text3_; } // file-name field
    QLabel* label1() const { return label1_; }
    QLabel* label2() const { return label2_; }
    QLabel* label3() const { return label3_; }
    QPushButton* command1() const { return command1_; }
    QPushButton* command2() const { return command2_; }

    // The three field texts, as typed.
    FieldTexts fields() const;

    virtual JobKind job() const = 0;
    virtual QPushButton* jobButton() const = 0;
    virtual QPushButton* switchButton() const = 0;

protected:
    // A control as laid out in twips (15 to a pixel at 96 dpi), from the
    // top-left corner of the client area.
    struct Place {
        int left, top, width, height;
    };
    struct Layout {
        QString title;
        QString label1Caption;
        Place label1, text1, label2, text2, label3, text3, command1, command2;
        QString command1Caption, command2Caption;
        // Focus order for Tab; Shift+Tab runs it backwards. The first one has
        // the focus when the screen is first shown.
        // Controls are named by their object names.
        std::vector<const char*> tabOrder;
    };

    explicit Form(const Layout& layout);

private:
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    QLabel* label3_ = nullptr;
    QLineEdit* text1_ = nullptr;
    QLineEdit* text2_ = nullptr;
    QLineEdit* text3_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
};

// The split job's screen, shown at start.
class Form1 final : public Form {
    Q_OBJECT
public:
    Form1();
    JobKind job() const override { return JobKind::Split; }
    QPushButton* jobButton() const override { return command1(); }    // "Yaz"
    QPushButton* switchButton() const override { return command2(); } // "Data File"
};

// The join job's screen.
class Form2 final : public Form {
    Q_OBJECT
public:
    Form2();
    JobKind job() const override { return JobKind::Join; }
    QPushButton* jobButton() const override { return command2(); }    // "Yaz"
    QPushButton* switchButton() const override { return command1(); } // "Return"
};

} // namespace fwprep::app
