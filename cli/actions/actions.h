// Handlers of the action table. Each returns 0 when it ran to its end; a failure never
// returns, it ends the process through the fatal message operations.
#ifndef OMBREX_CLI_ACTIONS_ACTIONS_H
#define OMBREX_CLI_ACTIONS_ACTIONS_H

int ombrex_cli_action_status();
int ombrex_cli_action_conf();
int ombrex_cli_action_disable();
int ombrex_cli_action_enable();
int ombrex_cli_action_version();

void ombrex_cli_action_about();
void ombrex_cli_action_help();

#endif
