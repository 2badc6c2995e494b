#include "platform/fake/RecordingBackend.h"

namespace tl {

bool RecordingBackend::injectTouch(const TouchRecord *records, int count)
{
    Call call;
    call.type = Call::Type::Touch;
    if (records && count > 0)
        call.records.assign(records, records + count);
    m_calls.push_back(std::move(call));
    return m_kind == Kind::Touch;
}

bool RecordingBackend::sendMouse(int absX, int absY, quint32 flags)
{
    Call call;
    call.type = Call::Type::Mouse;
    call.absX = absX;
    call.absY = absY;
    call.flags = flags;
    m_calls.push_back(std::move(call));
    return m_kind == Kind::Mouse;
}

} // namespace tl
