#include "tools/iesim/DefaultScenario.h"

namespace IeSim {

const std::string_view kDefaultScenario = R"pb(
name: "failover"
description: "Gold on 10.1 prefers Primary (a local exit through eth1) to Backup (a resolved remote exit). eth1 fails and returns; then the agent restarts over outputs an older run left."

initial {
  binding { vni: 10 lane: 1 policy: "Gold" }
  config {
    policy { name: "Gold" entry { seq: 10 group: "Primary" } entry { seq: 20 group: "Backup" } }
    group { name: "Primary" option: "localExit:wan1" }
    group { name: "Backup" option: "remoteExit:peer" }
  }
  vrf { id: 1 name: "blue" vni: 10 }
  intf: ["eth1", "eth9"]
  module { present: true }
  connection { name: "wan1" intf: "eth1" num: 5 }
  response { key: "peer@10.1" remote_svc_group: 42 }
}

step { why: "start-up: Primary wins, eth1 goes to the data path" run {} }
step {
  why: "eth1 fails: Primary goes down, Backup wins; the remote exit is added before eth1 is deleted"
  intf { name: "eth1" present: false }
}
step {
  why: "eth1 returns: Primary wins again"
  intf { name: "eth1" present: true }
}
step { why: "the agent goes down" stop {} }
step {
  why: "an older run's leftovers: eth9 in Gold's status, the notification 10.1/7"
  set_output {
    policy_status { policy: "Gold@10.1" winning_group: "Primary" exit_intf { type: "localDefaultVrf" intf: "eth9" gate: 2 } }
    svc_in_use: "10.1/7"
  }
}
step { why: "the agent comes back over them" restart {} }
step { why: "reconciliation deletes exactly the leftovers; the data path hears of eth9 as a delete of an entry it never held, and of eth1 again (the programming sends what it finds at start)" run {} }
step {
  expect {
    policy_status {
      policy { policy: "Gold@10.1" winning_group: "Primary" exactly { result { type: "localDefaultVrf" intf: "eth1" gate: 1 aux: 5 } } }
    }
    notifications { exactly {} }
    exit_table { pair { at: "10.1" exit { intf: "eth1" gate: 1 aux: 5 type: "localDefaultVrf" } } }
  }
}
)pb";

}  // namespace IeSim
