#pragma once

#include <cmath>

namespace fft {

// Generates cos(k * a) and sin(k * a) for k = 1, 2, ... by repeated rotation
// of the unit vector, so that long passes need no table and no call to sin/cos.
template <class DT>
class Oscillator
{
public:
    void setStep(double angle)
    {
        _stepCos = static_cast<DT>(std::cos(angle));
        _stepSin = static_cast<DT>(std::sin(angle));
    }
    void clearBuffers()
    {
        _posCos = DT(1);
        _posSin = DT(0);
    }
    void step()
    {
        const DT oldCos = _posCos;
        const DT oldSin = _posSin;
        _posCos = oldCos * _stepCos - oldSin * _stepSin;
        _posSin = oldCos * _stepSin + oldSin * _stepCos;
    }
    DT getCos() const { return _posCos; }
    DT getSin() const { return _posSin; }

private:
    DT _posCos = DT(1);
    DT _posSin = DT(0);
    DT _stepCos = DT(1);
    DT _stepSin = DT(0);
};

} // namespace fft
