// SCPI text commands: recognition of a command by its literal spelling, and
// channel lists such as (@0(1!1,2!3:4!5)) turned into 1-based crosspoints.
//
// Recognition is a plain prefix lookup in one of two fixed tables, not a
// SCPI grammar: the instrument's users type the spellings of the manual, and
// the text after a command is its argument. Failures are reported as text in
// the caller's reply buffer, never as codes.
#pragma once

#include <stdbool.h>
#include <stdint.h>

#include "base/export.h"

#define KORVAX_SCPI_COMMAND_COUNT 26  // entries of each command table
#define KORVAX_SCPI_ARGUMENT_SIZE 200 // argument buffer handed to scpi_parser

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t ScpiOp;

// Operation codes; the ones marked "arg" take the text after the command.
enum {
    SCPI_OP_IDENTITY = 0,
    SCPI_OP_FW_VERSION = 1,
    SCPI_OP_MANUFACTURER = 2,
    SCPI_OP_MODEL = 3,
    SCPI_OP_RESET = 4,
    SCPI_OP_SET_IP_ADDRESS = 5,     // arg
    SCPI_OP_IP_ADDRESS = 6,
    SCPI_OP_SET_LAN_MODE = 7,       // arg
    SCPI_OP_LAN_MODE = 8,
    SCPI_OP_BOARD_IN_PLACE = 9,
    SCPI_OP_SPI_LOOP = 10,
    SCPI_OP_CARD_STATE = 11,
    SCPI_OP_CONTROL_MODE = 12,
    SCPI_OP_SET_CONTROL_MODE = 13,  // arg
    SCPI_OP_SET_GPIB_ADDRESS = 14,  // arg
    SCPI_OP_SET_BAUD_RATE = 15,     // arg
    SCPI_OP_GPIB_ADDRESS = 16,
    SCPI_OP_BAUD_RATE = 17,
    SCPI_OP_OPEN = 18,              // arg: channel list
    SCPI_OP_CLOSE = 19,             // arg: channel list
    SCPI_OP_OPEN_ALL = 20,
    SCPI_OP_CLOSE_ALL = 21,
    SCPI_OP_UNKNOWN = 22
};

// One spelling of a command. Trailing blanks belong to the text: they
// separate the command from its argument.
typedef struct ScpiCommand {
    const char *text;
    ScpiOp op;
} ScpiCommand;

// One element of a channel list, both numbers 1-based.
typedef struct ScpiCrosspoint {
    int32_t row;
    int32_t col;
} ScpiCrosspoint;

// A parsed channel list, returned by value. `points` is malloc'd storage
// owned by the result (release it with freeSCPIResult); `capacity` is the
// number of elements allocated. Start a result from all zeros.
typedef struct ScpiResult {
    int32_t subUnit;        // the number after '@'
    ScpiCrosspoint *points; // count elements, row by row for a rectangle
    int32_t count;
    int32_t capacity;
} ScpiResult;

// Searched when the command holds a lower-case letter (the long forms).
KORVAX_INTERNAL const ScpiCommand commandMapUpperAndLower[KORVAX_SCPI_COMMAND_COUNT];
// Searched otherwise (the short forms).
KORVAX_INTERNAL const ScpiCommand commandMapAllUpper[KORVAX_SCPI_COMMAND_COUNT];

// Sets *op to the first table entry the command begins with, or to
// SCPI_OP_UNKNOWN with "Unknown Command" in message. For argument ops the
// rest of the command goes to argument (KORVAX_SCPI_ARGUMENT_SIZE bytes); a
// rest of 200 characters or more leaves argument empty and puts
// "Error: Parameter too long" in message. handle is not used.
KORVAX_INTERNAL void scpi_parser(uint32_t handle, const char *command, char *message,
                                 char *argument, ScpiOp *op);
// Parses a channel list. Any failure leaves its message in message (at least
// 64 bytes); the result may still hold the points of earlier good elements
// and must be released either way.
KORVAX_INTERNAL ScpiResult parseSCPICrossPoint(const char *text, char *message);
// Appends one element, R!C or the rectangle R1!C1:R2!C2, to result.
// 0, or -1 with a message.
KORVAX_INTERNAL int32_t parseCrosspoints(ScpiResult *result, const char *element, char *message);
// True when no ')' closes more than was opened and every '(' is closed.
KORVAX_INTERNAL bool areParenthesesBalanced(const char *text);
// Releases result.points; the caller's copy keeps its (now stale) fields.
KORVAX_INTERNAL void freeSCPIResult(ScpiResult result);

#ifdef __cplusplus
}

#include <string_view>

namespace korvax {

// The operations that take the text after the command as their argument.
constexpr bool scpiTakesArgument(ScpiOp op) {
    switch (op) {
    case SCPI_OP_SET_IP_ADDRESS:
    case SCPI_OP_SET_LAN_MODE:
    case SCPI_OP_SET_CONTROL_MODE:
    case SCPI_OP_SET_GPIB_ADDRESS:
    case SCPI_OP_SET_BAUD_RATE:
    case SCPI_OP_OPEN:
    case SCPI_OP_CLOSE:
        return true;
    default:
        return false;
    }
}

// A recognised command: its op, the text after its spelling (argument ops
// only; a view into the command), and the reason it cannot be used, if any:
// "Unknown Command" (op SCPI_OP_UNKNOWN) or "Error: Parameter too long" (an
// argument of KORVAX_SCPI_ARGUMENT_SIZE characters or more; argument empty).
struct ParsedCommand {
    ScpiOp op = SCPI_OP_UNKNOWN;
    std::string_view argument;
    std::string_view error;
};

// Looks the command up in the long-form table when it holds a lower-case
// letter, else in the short-form table; the first spelling it begins with
// wins.
ParsedCommand parseCommand(std::string_view command);

}  // namespace korvax
#endif
