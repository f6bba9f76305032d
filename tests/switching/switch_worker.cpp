// One of the two processes of the shared-chassis test: keeps R<row>!C<row+1>
// closed and toggles R<row>!C1 `rounds` times, each a transaction of its own.
// The kept crosspoints sit on columns of their own: on a shared one, the
// two rows would be one net, and each toggle would find the other's row
// already joined to C1.
#include <cstdio>
#include <string>

#include "korvax/switching.hpp"

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s TOPOLOGY RECORD ROW ROUNDS\n", argv[0]);
        return 2;
    }
    using namespace korvax::switching;
    try {
        SessionOptions o;
        o.record = argv[2];
        o.program = std::string("worker ") + argv[3];
        Session s(argv[1], o);
        Matrix &m = s.matrix();
        const std::string row = std::string("R") + argv[3];
        m.connect(row, "C" + std::to_string(std::stoi(argv[3]) + 1));
        const int rounds = std::stoi(argv[4]);
        for (int i = 0; i < rounds; ++i) {
            if (i % 2 == 0) m.connect(row, "C1");
            else m.disconnect(row, "C1");
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "worker %s: %s\n", argv[3], e.what());
        return 1;
    }
    return 0;
}
