#include "tools/iesim/DefaultScenario.h"

namespace IeSim {

const std::string_view kDefaultScenario = R"pb(
name: "bindings, configuration, default routes and the data path"
description: "Pairs are bound to policies of exit groups; a pair moves to another policy and one loses its binding; the operator changes a policy and a group; a VRF gains a default route; the interface of a local exit fails and returns; the resolver answers a remote exit; one exit reaches the data path; the agent restarts over outputs that an older run left behind."

initial {
  binding { vni: 10 lane: 1 policy: "Gold" }
  binding { vni: 10 lane: 2 policy: "Gold" }
  binding { vni: 20 lane: 7 policy: "Silver" }
  config {
    policy { name: "Gold" entry { seq: 10 group: "Wan" } entry { seq: 20 group: "Backup" } }
    policy { name: "Silver" entry { seq: 10 group: "Backup" } }
    group { name: "Wan" option: ["localExit:wan1", "fibDefault:"] }
    group { name: "Backup" option: "remoteExit:peer" }
  }
  vrf { id: 1 name: "blue" vni: 10 }
  vrf { id: 2 name: "red" vni: 20 }
  default_route: 1
  intf: ["wan1", "wan2"]
  module { present: true }
  connection { name: "wan1" intf: "wan1" }
}

step {
  why: "start-up: the bindings become keys, each bound pair gets its policy's entries and groups, each group the policies that list it; VRF blue gives VNI 10 a default route"
  run {}
}
step {
  expect {
    pol_to_vni_lane { exactly { key: ["Gold@10.1", "Gold@10.2", "Silver@20.7"] } }
    status_config {
      pair {
        at: "10.1" policy: "Gold"
        entry { seq: 10 group: "Wan" }
        entry { seq: 20 group: "Backup" }
        group { name: "Wan" option: ["localExit:wan1", "fibDefault:"] }
        group { name: "Backup" option: "remoteExit:peer" }
      }
      pair {
        at: "20.7" policy: "Silver"
        entry { seq: 10 group: "Backup" }
        group { name: "Backup" option: "remoteExit:peer" }
      }
      pairs { pair: ["10.1", "10.2", "20.7"] }
    }
    group_to_policy {
      group { group: "Backup@10.1" policy: "Gold@10.1" }
      group { group: "Backup@20.7" policy: "Silver@20.7" }
      size: 5
    }
    vni_default_route { exactly { vni: 10 } }
    pair_default_route { exactly { pair: ["10.1", "10.2"] } }
    sm { ready: true idle: true }
  }
}
step {
  why: "10.2 moves from Gold to Silver: the old key goes before the new one comes, and the pair's status configuration follows"
  bind { vni: 10 lane: 2 policy: "Silver" }
}
step {
  why: "the operator puts Wan before Backup in Silver: every pair bound to Silver gains the entry and the group"
  set_entry { policy: "Silver" seq: 5 group: "Wan" }
}
step {
  why: "and gives Backup a second peer: every pair whose policy lists Backup gains the option"
  add_option { group: "Backup" option: "remoteExit:peer2" }
}
step {
  why: "10.1 loses its binding: its key, its status configuration and its default-route pair go"
  unbind { vni: 10 lane: 1 }
}
step { run {} }
step {
  expect {
    pol_to_vni_lane {
      exactly { key: ["Silver@10.2", "Silver@20.7"] }
      changes_since_last_expect { added: 1 removed: 2 }
    }
    status_config {
      pair {
        at: "10.2" policy: "Silver"
        entry { seq: 5 group: "Wan" }
        entry { seq: 10 group: "Backup" }
        group { name: "Wan" option: ["localExit:wan1", "fibDefault:"] }
        group { name: "Backup" option: ["remoteExit:peer", "remoteExit:peer2"] }
      }
      pairs { pair: ["10.2", "20.7"] }
    }
    group_to_policy {
      group { group: "Wan@20.7" policy: "Silver@20.7" }
      absent: ["Wan@10.1", "Backup@10.1"]
      size: 4
    }
    pair_default_route { exactly { pair: "10.2" } }
    sm { ready: true idle: true }
  }
}
step {
  why: "VRF red gains a default route: VNI 20 has one now, and so has 20.7"
  default_route { vrf: 2 present: true }
}
step {
  expect {
    vni_default_route { exactly { vni: [10, 20] } }
    pair_default_route {
      exactly { pair: ["10.2", "20.7"] }
      changes_since_last_expect { added: 1 removed: 0 }
    }
  }
}
step {
  why: "interface wan1 fails: the local exits through it give its gate back and have no result"
  intf { name: "wan1" present: false }
}
step {
  why: "wan1 returns: they take a gate again"
  intf { name: "wan1" present: true }
}
step {
  why: "the resolver answers 20.7's request for peer: that remote exit is usable"
  response { key: "peer@20.7" remote_svc_group: 7 }
}
step {
  expect {
    exit_options {
      option { option: "localExit:wan1@10.2" type: "localDefaultVrf" intf: "wan1" gate: 1 }
      option { option: "localExit:wan1@20.7" type: "localDefaultVrf" intf: "wan1" gate: 1 }
      option { option: "remoteExit:peer@20.7" type: "remoteResolved" aux: 7 }
      option { option: "remoteExit:peer@10.2" type: "noResult" aux: 0 }
    }
    resolver_requests { exactly { key: ["peer@10.2", "peer2@10.2", "peer@20.7", "peer2@20.7"] } }
    exit_table { gate { intf: "wan1" gate: 1 users: 2 } }
  }
}
step {
  why: "the state machines that choose exits come later; this sends 10.2's exit through wan1 to the data path as they will"
  exit_info { vni: 10 lane: 2 intf: "wan1" type: "localDefaultVrf" }
}
step {
  expect {
    exit_table {
      module_present: true
      exactly { entry { vni: 10 lane: 2 intf: "wan1" gate: 1 type: "localDefaultVrf" } }
      applied: 1
      rejected: 0
    }
  }
}
step {
  why: "the agent goes down; the outputs stay as they are (the trackers empty theirs)"
  stop {}
}
step {
  why: "an older run left behind an entry at 30 naming group Old in 10.2's status configuration, Old with an option, and Old in the reverse map"
  set_output {
    status_entry { policy: "Silver@10.2" seq: 30 group: "Old" }
    status_option { group: "Old@10.2" option: "localExit:wan9" }
    group_to_policy { group: "Old@10.2" policy: "Silver@10.2" }
  }
}
step {
  why: "the agent comes back: new state machines over the same inputs and outputs"
  restart {}
}
step {
  why: "scans and reconciliations, one element per run: what the inputs still give stays untouched, the stale entry, group, option and reverse-map member are deleted"
  run { yield: "always" }
}
step {
  expect {
    pol_to_vni_lane { size: 2 changes_since_last_expect { added: 0 removed: 0 } }
    status_config {
      pair {
        at: "10.2" policy: "Silver"
        entry { seq: 5 group: "Wan" }
        entry { seq: 10 group: "Backup" }
        group { name: "Wan" option: ["localExit:wan1", "fibDefault:"] }
        group { name: "Backup" option: ["remoteExit:peer", "remoteExit:peer2"] }
      }
      changes_since_last_expect { added: 0 removed: 3 changed: 0 }
    }
    group_to_policy { absent: "Old@10.2" size: 4 changes_since_last_expect { added: 0 removed: 1 } }
    pair_default_route { exactly { pair: ["10.2", "20.7"] } }
    exit_table { exactly { entry { vni: 10 lane: 2 intf: "wan1" gate: 1 type: "localDefaultVrf" } } }
    sm { ready: true idle: true }
  }
}
)pb";

}  // namespace IeSim
