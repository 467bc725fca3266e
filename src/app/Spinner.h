#pragma once

#include <QTimer>
#include <QWidget>

// An indeterminate busy indicator: a rotating arc, animated by a timer while
// started. It stays in place when hidden; hiding does not stop it.
class Spinner : public QWidget {
    Q_OBJECT

public:
    explicit Spinner(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    [[nodiscard]] bool isAnimating() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int angle_ = 0;
};
