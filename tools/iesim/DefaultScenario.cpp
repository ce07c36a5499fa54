#include "tools/iesim/DefaultScenario.h"

namespace IeSim {

const std::string_view kDefaultScenario = R"pb(
name: "bindings, a rebind, an unbind and a restart"
description: "The lane agent binds pairs to policies and changes its mind; the agent then restarts over the set it left behind, which still holds a key of an older run."

initial {
  binding { vni: 10 lane: 1 policy: "Gold" }
  binding { vni: 10 lane: 2 policy: "Gold" }
  binding { vni: 20 lane: 7 policy: "Silver" }
}

step {
  why: "the start-up scan reads the three bindings; with nothing to reconcile, the output is ready at once"
  run {}
}
step {
  expect {
    pol_to_vni_lane { exactly { key: ["Gold@10.1", "Gold@10.2", "Silver@20.7"] } }
    sm { ready: true idle: true }
  }
}
step {
  why: "a fourth pair is bound; the notification reaches the state machine inside the write"
  bind { vni: 30 lane: 3 policy: "Bronze" }
}
step {
  why: "10.2 moves from Gold to Silver: the old key goes before the new one comes"
  bind { vni: 10 lane: 2 policy: "Silver" }
}
step {
  why: "10.1 loses its binding: exactly its key goes"
  unbind { vni: 10 lane: 1 }
}
step {
  expect {
    pol_to_vni_lane {
      exactly { key: ["Silver@10.2", "Silver@20.7", "Bronze@30.3"] }
      changes_since_last_expect { added: 2 removed: 2 }
    }
  }
}
step {
  why: "an older run of the agent bound 40.4 to Gold; that key is still in the output, but the lane agent no longer binds 40.4"
  set_output { add: "Gold@40.4" }
}
step {
  why: "the agent restarts: a new state machine over the same lane status and the same output"
  restart {}
}
step {
  why: "scan and reconciliation, one element per run: the three valid keys are re-asserted, the stale one is deleted"
  run { yield: "always" }
}
step {
  expect {
    pol_to_vni_lane {
      exactly { key: ["Silver@10.2", "Silver@20.7", "Bronze@30.3"] }
      changes_since_last_expect { added: 0 removed: 1 }
    }
    sm { ready: true idle: true }
  }
}
)pb";

}  // namespace IeSim
