// A chassis with sub-unit 0 identified through KORVAX_OpenSpecifiedCard on
// the scripted instrument, relay maps built: ready to switch.
#pragma once

#include <gtest/gtest.h>

#include "maps/KORVAX_common.h"
#include "support/fake_chassis.h"
#include "support/reference_encoder.h"
#include "support/scripted_instrument.h"

namespace testsupport {

inline FakeChassis openMatrix(uint16_t model, InstrumentState st = {}, int index = 0) {
    FakeChassis f = installChassis(model, index);
    st.rq520Layout = model == KORVAX_MODEL_RQ520 || model == KORVAX_MODEL_RQ520B;
    f.res->responder = instrument(st);
    int64_t opened = -1;
    EXPECT_EQ(KORVAX_OpenSpecifiedCard(f.handle, 0, &opened), 0);
    InitPointInfo();
    fakevisa::clearEvents();
    return f;
}

}  // namespace testsupport
