#pragma once

#include <QEasingCurve>

#include <functional>
#include <variant>

namespace tolvex {

// How an animated value travels to its target: a timed ease, a spring given
// by its response (the period of the undamped oscillation, seconds) and
// damping fraction, or a spring given by mass, stiffness and damping.
struct Motion {
    struct Eased {
        QEasingCurve curve;
        double duration = 0.25;
    };
    struct Spring {
        double mass = 1;
        double stiffness = 100;
        double damping = 20;
        double initialVelocity = 0;
    };

    std::variant<Eased, Spring> kind;

    static Motion easeIn(double duration) { return {Eased{bezier(0.42, 0, 1, 1), duration}}; }
    static Motion easeOut(double duration) { return {Eased{bezier(0, 0, 0.58, 1), duration}}; }
    static Motion easeInOut(double duration) { return {Eased{bezier(0.42, 0, 0.58, 1), duration}}; }
    // Stiffness (2π / response)² and damping 4π · fraction / response on a unit mass.
    static Motion spring(double response, double dampingFraction);
    static Motion interpolatingSpring(double mass, double stiffness, double damping, double initialVelocity = 0)
    {
        return {Spring{mass, stiffness, damping, initialVelocity}};
    }

private:
    static QEasingCurve bezier(double x1, double y1, double x2, double y2);
};

// One animated number. advance() moves it by a time step; a value with no
// motion under way stays where it was put.
class MotionValue {
public:
    explicit MotionValue(double initial = 0) : value_(initial), target_(initial) {}

    double value() const { return value_; }
    double target() const { return target_; }
    bool isMoving() const { return moving_; }

    // Jumps, stopping any motion.
    void set(double value);
    // From the current value (and, for springs, the current velocity).
    void animate(double target, const Motion& motion);
    // Seconds; answers whether the value is still moving afterwards.
    bool advance(double seconds);
    // A spring settles once the swing it has left (its energy as an
    // amplitude: the farthest it would still reach from the target) is
    // under `amplitude`: how far a value may move unseen is the owner's to
    // say. Zero keeps the default, a tiny fraction of the travel.
    void setRestTolerance(double amplitude) { restTolerance_ = amplitude; }

private:
    double value_;
    double target_;
    double from_ = 0;
    double velocity_ = 0;
    double elapsed_ = 0;
    bool moving_ = false;
    double restTolerance_ = 0;
    Motion motion_{Motion::Eased{}};
};

} // namespace tolvex
