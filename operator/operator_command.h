// The operator's commands as the entry point sees them.
#ifndef TARVEX_OPERATOR_OPERATOR_COMMAND_H_
#define TARVEX_OPERATOR_OPERATOR_COMMAND_H_

// Answers --check, --version, --help, --status [--json], --deadletters [N] and
// --redrive ... as the first argument: prints the answer and returns the exit
// status (0 or 1). Returns -1 for any other command line.
int answerOperatorCommand(int argc, char** argv);

#endif  // TARVEX_OPERATOR_OPERATOR_COMMAND_H_
