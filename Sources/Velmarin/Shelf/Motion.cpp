#include "Velmarin/Shelf/Motion.h"

#include <QPointF>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tolvex {

Motion Motion::spring(double response, double dampingFraction)
{
    const double r = std::max(response, 0.001);
    const double omega = 2 * std::numbers::pi / r;
    return {Spring{1, omega * omega, 2 * omega * dampingFraction, 0}};
}

QEasingCurve Motion::bezier(double x1, double y1, double x2, double y2)
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(x1, y1), QPointF(x2, y2), QPointF(1, 1));
    return curve;
}

void MotionValue::set(double value)
{
    value_ = value;
    target_ = value;
    velocity_ = 0;
    moving_ = false;
}

void MotionValue::animate(double target, const Motion& motion)
{
    const bool wasMoving = moving_;
    target_ = target;
    from_ = value_;
    elapsed_ = 0;
    motion_ = motion;
    if (const auto* spring = std::get_if<Motion::Spring>(&motion.kind)) {
        // A spring taking over a moving value keeps its momentum, so a
        // retargeted card does not jerk.
        if (!wasMoving || spring->initialVelocity != 0)
            velocity_ = spring->initialVelocity;
    } else {
        velocity_ = 0;
    }
    moving_ = value_ != target_ || velocity_ != 0;
}

bool MotionValue::advance(double seconds)
{
    if (!moving_ || seconds <= 0)
        return moving_;
    if (const auto* eased = std::get_if<Motion::Eased>(&motion_.kind)) {
        elapsed_ += seconds;
        const double progress = eased->duration <= 0 ? 1.0 : std::min(elapsed_ / eased->duration, 1.0);
        value_ = from_ + (target_ - from_) * eased->curve.valueForProgress(progress);
        if (progress >= 1) {
            value_ = target_;
            moving_ = false;
        }
        return moving_;
    }
    const auto& spring = std::get<Motion::Spring>(motion_.kind);
    const double mass = std::max(spring.mass, 1e-6);
    // Semi-implicit Euler in steps of at most 1 ms: stable for the stiff
    // springs of the shelf and cheap enough for every card at every frame.
    double left = seconds;
    while (left > 0) {
        const double dt = std::min(left, 0.001);
        const double force = -spring.stiffness * (value_ - target_) - spring.damping * velocity_;
        velocity_ += force / mass * dt;
        value_ += velocity_ * dt;
        left -= dt;
    }
    const double offset = value_ - target_;
    bool still = false;
    if (restTolerance_ > 0) {
        // Kinetic energy counted as the distance it would still carry the
        // value: ½mv² = ½kx² gives x = v·√(m/k).
        const double reach = spring.stiffness > 0 ? velocity_ * velocity_ * mass / spring.stiffness : 0;
        still = offset * offset + reach < restTolerance_ * restTolerance_;
    } else {
        const double scale = std::max({std::abs(target_ - from_), std::abs(target_), 1.0});
        still = std::abs(offset) < 0.0005 * scale && std::abs(velocity_) < 0.005 * scale;
    }
    if (still) {
        value_ = target_;
        velocity_ = 0;
        moving_ = false;
    }
    return moving_;
}

} // namespace tolvex
