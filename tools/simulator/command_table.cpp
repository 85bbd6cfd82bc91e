// The simulator's commands in one table: names, short forms, argument shapes, help texts and
// handlers. Dispatch, short-form expansion and "help" all read it.

#include "tools/simulator/scenario_runner.hpp"

#include <string>

namespace tarn1::simulator
{

const std::vector<Scenario_runner::Command>& Scenario_runner::commands()
{
    using R = Scenario_runner;
    // Help texts carry their section headings; "help" prints them in this order.
    static const std::vector<Command> s_commands{
        {"config",
         {},
         {1, 2, "config FILE|none [NAME]"},
         "Set-up (before start):\n"
         "  config FILE [NAME]        copy FILE to /etc/adaptive/NAME (default statewarden.json)\n"
         "  config none [NAME]        remove /etc/adaptive/NAME\n",
         &R::run_config},
        {"hostname",
         {},
         {1, 1, "hostname NAME"},
         "  hostname NAME             host name seen by the daemons\n",
         &R::run_hostname},
        {"poweroff-reader",
         {},
         {1, 1, "poweroff-reader on|off"},
         "  poweroff-reader on|off    a power-management reader on /run/adaptive/poweroff\n",
         &R::run_presence},
        {"iam-daemon",
         {},
         {1, 1, "iam-daemon on|off"},
         "  iam-daemon on|off         start the IAM daemon too (default on)\n",
         &R::run_presence},
        {"access",
         {},
         {1, 1, "access enforce|audit|off"},
         "  access enforce|audit|off  how Statewarden checks access with the IAM daemon (default enforce)\n",
         &R::run_access},
        {"start", {}, {0, s_any, "start"}, "  start                     start the daemons\n", &R::run_start},
        {"press",
         {{"k", {}, {}, ""}},
         {1, s_any, "press N|S|P|R|POWER ..."},
         "Hypervisor:\n"
         "  press N|S|P|R|POWER ...   key strokes on the virtual input device\n",
         &R::run_press},
        {"nm",
         {},
         {1, 1, "nm offer|withdraw"},
         "UDP NM:\n"
         "  nm offer | nm withdraw    offer or withdraw the two NM services\n",
         &R::run_nm},
        {"network",
         {{"net", {}, {}, ""}},
         {1, 1, "network active|asleep|HEX"},
         "  network active|asleep|HEX NetworkState notification (asleep = all zero)\n",
         &R::run_network},
        {"request",
         {{"e+",
           {"ecualive"},
           {"EcuAlive_Diagnostics"},
           "  e+ [INST]   e- [INST]             request / release ecualive (EcuAlive_Diagnostics)\n"},
          {"c+",
           {"comalive"},
           {"ComAlive_Telematics", "010000", "3"},
           "  c+ [INST [CABHEX [AC]]]   c- [INST [CABHEX]]   comalive (ComAlive_Telematics 010000 3)\n"},
          {"w+",
           {"cwu"},
           {"CarWakeUp_Telematics", "1"},
           "  w+ [INST [VALUE]]   w- [INST]     cwu (CarWakeUp_Telematics 1)\n"},
          {"d+", {"dsa"}, {"1"}, "  d+ [TYPE]                         request dsa (1)\n"}},
         {1, s_any, "request ecualive|comalive|cwu|dsa ..."},
         "Applications:\n"
         "  request ecualive INST     release ecualive INST\n"
         "  request comalive INST CABHEX AC    release comalive INST CABHEX\n"
         "  request cwu INST VALUE    release cwu INST\n"
         "  request dsa TYPE\n",
         &R::run_app_call},
        {"release",
         {{"e-", {"ecualive"}, {"EcuAlive_Diagnostics"}, ""},
          {"c-", {"comalive"}, {"ComAlive_Telematics", "010000"}, ""},
          {"w-", {"cwu"}, {"CarWakeUp_Telematics"}, ""}},
         {1, s_any, "release ecualive|comalive|cwu|dsa ..."},
         "",
         &R::run_app_call},
        {"as",
         {},
         {2, s_any, "as UID request|release SERVICE ... (UID not 0; short forms allowed: as 1000 d+)"},
         "  as UID REQUEST...         the request from an application of user UID (as 1000 d+)\n",
         &R::run_as},
        {"client",
         {{"cl+", {"add"}, {}, "  cl+ NAME [MODE]   cl- NAME        client add / client remove\n"},
          {"cl-", {"remove"}, {}, ""}},
         {2, s_any, "client add NAME [MODE] | client NAME MODE | client remove NAME | client raw NAME HOW"},
         "Notification clients:\n"
         "  client add NAME [now|late DELAY|error|never]   (diag::dcm, diag::dem, any application)\n"
         "  client NAME now|late DELAY|error|never         client remove NAME\n"
         "  client raw NAME partial|huge|silent            a client that misbehaves on the wire\n",
         &R::run_client},
        {"iam",
         {},
         {0, s_any, "iam ARGS..."},
         "IAM:\n"
         "  iam posix UID GID PID OP SERVICE [MEMBER] | iam tcpip ADDR PORT OP SERVICE [MEMBER]\n"
         "  iam --raw TEXT | iam raw-size N | iam burst N REQUEST...  (N checks at once)\n",
         &R::run_iam},
        {"signal",
         {{"sig", {}, {"TERM"}, "  k KEY...   net STATE   sig [SIGNAL]   press, network, signal (TERM)\n"}},
         {1, 1, "signal TERM|INT|ABRT|KILL"},
         "Daemon: signal TERM|INT|ABRT|KILL   ",
         &R::run_signal},
        {"stop", {}, {0, s_any, "stop"}, "stop\n", &R::run_stop},
        {"ctl",
         {},
         {0, s_any, "ctl ARGS..."},
         "Status: ctl ARGS...                statewarden_ctl ARGS (its lines and \"exit N\" are ctl events)\n",
         &R::run_ctl},
        {"expect",
         {},
         {0, s_any, "expect KIND TEXT [within DELAY] | expect no KIND TEXT for DELAY"},
         "Checks (default within 5s):\n"
         "  expect KIND TEXT [within DELAY]   next event of KIND containing TEXT\n"
         "  expect no KIND TEXT for DELAY     no such event in that time\n"
         "  expect seen KIND TEXT [within DELAY]  such an event at any time, in any order\n"
         "  expect json status|history PATH VALUE [within DELAY]  statewarden_ctl's --json value at PATH\n"
         "      (/holders/size(), /-1/to, /-1/clients[name=app]/answer) is VALUE (or >=N <=N >N <N !=X)\n"
         "  KIND: status command log (Statewarden) iamlog nm app client iam poweroff exit key sim\n"
         "        report round holders (the status service) ctl\n",
         &R::run_expect},
        {"skip",
         {},
         {3, 3, "skip if KIND TEXT"},
         "  skip if KIND TEXT                 end as skipped (exit 77) when such an event has arrived\n",
         &R::run_skip},
        {"wait", {}, {1, 1, "wait DELAY (500ms, 2s)"}, "Other: wait DELAY   ", &R::run_wait},
        {"echo", {}, {0, s_any, "echo TEXT"}, "echo TEXT   ", &R::run_echo},
        {"help", {}, {0, 0, "help"}, "help\n", nullptr},
    };
    return s_commands;
}

const char* help_text()
{
    static const std::string s_text = []
    {
        std::string text;
        std::string short_forms;
        for (const auto& command : Scenario_runner::commands())
        {
            text += command.help;
            for (const auto& short_form : command.short_forms)
            {
                short_forms += short_form.help;
            }
        }
        return text +
               "Short forms (+ asks, - lets go; left-out arguments are the example configuration's first ones):\n" +
               short_forms;
    }();
    return s_text.c_str();
}

const std::map<char, std::string>& console_keys()
{
    static const std::map<char, std::string> s_keys{{'n', "press N"},
                                                    {'s', "press S"},
                                                    {'p', "press P"},
                                                    {'r', "press R"},
                                                    {'o', "press POWER"},
                                                    {'a', "network asleep"},
                                                    {'w', "network active"}};
    return s_keys;
}

} // namespace tarn1::simulator
