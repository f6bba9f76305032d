// XDR items, record marking and RPC headers, byte for byte.
#include <gtest/gtest.h>

#include "visa/net/oncrpc.h"

namespace {

using namespace korvax::net;

TEST(Xdr, ItemsArePaddedBigEndianWords) {
    struct Case {
        const char *name;
        void (*write)(XdrWriter &);
        Bytes expected;
    };
    const Case cases[] = {
        {"u32", [](XdrWriter &w) { w.u32(0x01020304); }, {1, 2, 3, 4}},
        {"negative i32", [](XdrWriter &w) { w.i32(-2); }, {0xFF, 0xFF, 0xFF, 0xFE}},
        {"empty opaque", [](XdrWriter &w) { w.opaque({}); }, {0, 0, 0, 0}},
        {"opaque of 1 is padded to 4",
         [](XdrWriter &w) { w.opaque(Bytes{0xAB}); }, {0, 0, 0, 1, 0xAB, 0, 0, 0}},
        {"opaque of 4 has no pad",
         [](XdrWriter &w) { w.opaque(Bytes{1, 2, 3, 4}); }, {0, 0, 0, 4, 1, 2, 3, 4}},
        {"string", [](XdrWriter &w) { w.string("inst0"); },
         {0, 0, 0, 5, 'i', 'n', 's', 't', '0', 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        XdrWriter w;
        c.write(w);
        EXPECT_EQ(w.bytes(), c.expected);
    }
}

TEST(Xdr, ReaderFailsOnShortOrOversizedItemsAndStaysFailed) {
    struct Case {
        const char *name;
        Bytes input;
        std::size_t maxLength;
        bool ok;
        std::string text;
    };
    const Case cases[] = {
        {"whole string", {0, 0, 0, 2, 'h', 'i', 0, 0}, 8, true, "hi"},
        {"length beyond the limit", {0, 0, 0, 2, 'h', 'i', 0, 0}, 1, false, ""},
        {"pad missing", {0, 0, 0, 2, 'h', 'i'}, 8, false, ""},
        {"length beyond the input", {0x7F, 0xFF, 0xFF, 0xFF, 'h'}, 0xFFFFFFFF, false, ""},
        {"length word cut", {0, 0, 0}, 8, false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        XdrReader r(c.input);
        EXPECT_EQ(r.string(c.maxLength), c.text);
        EXPECT_EQ(r.ok(), c.ok);
        if (!c.ok) {
            EXPECT_EQ(r.u32(), 0u);  // later items read as zero
            EXPECT_FALSE(r.ok());
        }
    }
}

Bytes fragment(Bytes payload, bool last) {
    const uint32_t header = static_cast<uint32_t>(payload.size()) | (last ? 0x80000000u : 0);
    Bytes out = {static_cast<uint8_t>(header >> 24), static_cast<uint8_t>(header >> 16),
                 static_cast<uint8_t>(header >> 8), static_cast<uint8_t>(header)};
    out.reserve(4 + payload.size());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(RecordMarking, RecordsComeWholeHoweverTheStreamIsCut) {
    struct Case {
        const char *name;
        Bytes stream;
        std::vector<Bytes> records;
        bool oversized;
    };
    const Case cases[] = {
        {"one fragment", fragment({1, 2, 3, 4}, true), {{1, 2, 3, 4}}, false},
        {"two fragments make one record",
         join({fragment({1, 2}, false), fragment({3}, true)}), {{1, 2, 3}}, false},
        {"two records back to back",
         join({fragment({1}, true), fragment({2, 3}, true)}), {{1}, {2, 3}}, false},
        {"empty record", fragment({}, true), {{}}, false},
        {"fragment over the limit", fragment(Bytes(17, 0), true), {}, true},
        {"fragments adding up over the limit",
         join({fragment(Bytes(10, 0), false), fragment(Bytes(10, 0), true)}), {}, true},
        {"header says 2 GiB", {0xFF, 0xFF, 0xFF, 0xFF, 0}, {}, true},
    };
    for (const Case &c : cases) {
        for (const std::size_t step : {std::size_t{1}, std::size_t{3}, c.stream.size()}) {
            SCOPED_TRACE(std::string(c.name) + ", fed " + std::to_string(step) + " at a time");
            RecordAssembler assembler(16);
            std::vector<Bytes> got;
            bool oversized = false;
            for (std::size_t at = 0; at < c.stream.size() && !oversized; at += step) {
                assembler.feed(std::span(c.stream).subspan(at, std::min(step, c.stream.size() - at)));
                Bytes record;
                for (;;) {
                    const auto r = assembler.next(record);
                    if (r == RecordAssembler::Result::Record) got.push_back(record);
                    if (r == RecordAssembler::Result::Oversized) oversized = true;
                    if (r != RecordAssembler::Result::Record) break;
                }
            }
            EXPECT_EQ(got, c.records);
            EXPECT_EQ(oversized, c.oversized);
        }
    }
}

TEST(RecordMarking, EndlessEmptyFragmentsEndTheStream) {
    RecordAssembler assembler(1024);
    Bytes stream;
    for (int i = 0; i < 2000; ++i) {
        const Bytes f = fragment({}, false);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    assembler.feed(stream);
    Bytes record;
    EXPECT_EQ(assembler.next(record), RecordAssembler::Result::Oversized);
}

TEST(RpcHeaders, CallRoundTripAndWhatIsNotACall) {
    XdrWriter w;
    writeCall(w, {7, 0x0607AF, 1, 11});
    const Bytes call = w.bytes();
    // xid, CALL, rpc 2, program, version, procedure, two empty AUTH_NONE
    EXPECT_EQ(call, (Bytes{0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0x06, 0x07, 0xAF, 0, 0, 0, 1,
                           0, 0, 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    struct Case {
        const char *name;
        Bytes record;
        CallProblem problem;
    };
    Bytes rpc3 = call;
    rpc3[11] = 3;
    Bytes reply = call;
    reply[7] = 1;
    Bytes hugeAuth = call;
    hugeAuth[31] = 0xFF;  // credential body length 255 with nothing behind it
    const Case cases[] = {
        {"a call", call, CallProblem::None},
        {"RPC version 3", rpc3, CallProblem::RpcVersion},
        {"a reply", reply, CallProblem::NotACall},
        {"cut in the header", Bytes(call.begin(), call.begin() + 14), CallProblem::Malformed},
        {"credentials longer than the record", hugeAuth, CallProblem::Malformed},
        {"nothing", {}, CallProblem::Malformed},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        XdrReader r(c.record);
        CallHeader h;
        EXPECT_EQ(readCall(r, h), c.problem);
        if (c.problem == CallProblem::None) {
            EXPECT_EQ(h.xid, 7u);
            EXPECT_EQ(h.program, 0x0607AFu);
            EXPECT_EQ(h.procedure, 11u);
            EXPECT_TRUE(r.atEnd());
        }
    }
}

TEST(RpcHeaders, RepliesAsTheClientReadsThem) {
    struct Case {
        const char *name;
        void (*write)(XdrWriter &);
        bool accepted;
        AcceptStat stat;
        std::size_t bodyWords;
    };
    const Case cases[] = {
        {"success", [](XdrWriter &w) { writeAcceptedReply(w, 9, AcceptStat::Success); }, true,
         AcceptStat::Success, 0},
        {"program mismatch carries the versions",
         [](XdrWriter &w) { writeAcceptedReply(w, 9, AcceptStat::ProgMismatch, 1, 1); }, true,
         AcceptStat::ProgMismatch, 2},
        {"garbage arguments",
         [](XdrWriter &w) { writeAcceptedReply(w, 9, AcceptStat::GarbageArgs); }, true,
         AcceptStat::GarbageArgs, 0},
        {"RPC version mismatch", [](XdrWriter &w) { writeRpcMismatch(w, 9); }, false,
         AcceptStat::Success, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        XdrWriter w;
        c.write(w);
        XdrReader r(w.bytes());
        const auto h = readReply(r);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->xid, 9u);
        EXPECT_EQ(h->accepted, c.accepted);
        if (c.accepted) {
            EXPECT_EQ(h->stat, c.stat);
        }
        EXPECT_EQ(r.rest().size(), c.bodyWords * 4);
    }
    XdrWriter call;
    writeCall(call, {9, 1, 1, 1});
    XdrReader r(call.bytes());
    EXPECT_FALSE(readReply(r));
}

}  // namespace
