// A stand-in for navigator.hid around the simulated controller (SimModule.cpp, compiled
// to WebAssembly as createUpdateSim). The browser tests install it before the page
// loads. It behaves as WebHID does for the page: the same promises, events and report
// IDs; `connect` and `disconnect` for devices this origin may use; a device that
// restarts comes back as a new HIDDevice with its new product ID, which the page may use
// only once the user has chosen it in requestDevice (itself only from a click).
//
// config: {granted: [product IDs allowed at the start], refuseOpen (open() fails as on
//          Linux without the udev rule), latencyMs (per reply),
//          reenumerateMs, sim: {typeCode, version, updatedVersion, regionStart,
//          startInBootMode, removeAtBlock}}
// window.standIn gives the test the device's side: the frames it received, what it
// stored, its version, unplugging, plugging in, and the timing of each report; and a
// second controller granted to the page (addController), which the browser lists first.
// The calls that take `index` mean the controllers in the order they were made (0 the
// one of the config).
(function installStandIn(config) {
  const kVendorId = 0x4B2E;
  const granted = new Set(config.granted);
  const hid = new EventTarget();
  const timing = {sent: [], delivered: []};  // {at, code} of each output and input report
  let sim = null;
  // One per simulated controller, in the order the browser lists them: its handle, and
  // the HIDDevice present now, if any.
  const units = [];
  const made = [];  // the same, in the order they were made
  let enumerations = 0;  // calls of getDevices, so that a test knows the page has looked

  // A task of its own for each report, as the browser's HID service delivers it; a
  // reply with a latency is held back by a loop of such tasks, which timers cannot do
  // below their clamp of a few milliseconds.
  const channel = new MessageChannel();
  const due = [];
  channel.port1.onmessage = () => {
    const now = performance.now();
    while (due.length > 0 && due[0].at <= now) due.shift().run();
    if (due.length > 0) channel.port2.postMessage(0);
  };
  function at(time, run) {
    const i = due.findIndex((entry) => entry.at > time);
    due.splice(i < 0 ? due.length : i, 0, {at: time, run});
    channel.port2.postMessage(0);
  }

  // The command code a frame carries: bytes 2..3 of an output report; in a reply, its
  // echo in bytes 5..6 (boot mode, report 0) or 4..5 (application mode, report 2).
  const codeOf = (bytes) => bytes.length >= 4 ? bytes[2] | (bytes[3] << 8) : -1;
  const echoOf = (frame) => frame[0] === 0 ? frame[5] | (frame[6] << 8) : frame[4] | (frame[5] << 8);

  class StandInDevice extends EventTarget {
    constructor(unit, productId) {
      super();
      this.unit = unit;
      this.vendorId = kVendorId;
      this.productId = productId;
      this.productName = 'Vantor 2.4G Wired Controller';
      this.opened = false;
      this.gone = false;
      this.connection = 0;
      this.oninputreport = null;
    }

    async open() {
      if (this.gone) throw new DOMException('Failed to open the device.', 'NotFoundError');
      if (this.opened) throw new DOMException('The device is already open.', 'InvalidStateError');
      if (config.refuseOpen) throw new DOMException('Failed to open the device.', 'NotAllowedError');
      this.connection = sim._sim_connect(this.unit.handle);
      if (this.connection === 0) throw new DOMException('Failed to open the device.', 'NetworkError');
      this.opened = true;
    }

    async close() {
      if (this.connection) sim._sim_disconnect(this.unit.handle, this.connection);
      this.connection = 0;
      this.opened = false;
    }

    async sendReport(reportId, data) {
      if (!this.opened) throw new DOMException('The device must be opened first.', 'InvalidStateError');
      const bytes = new Uint8Array(data.byteLength + 1);
      bytes[0] = reportId;
      bytes.set(new Uint8Array(data.buffer || data, data.byteOffset || 0, data.byteLength), 1);
      const sentAt = performance.now();
      timing.sent.push({at: sentAt, code: codeOf(bytes)});
      const ptr = sim._malloc(bytes.length);
      sim.HEAPU8.set(bytes, ptr);
      const taken = this.gone ? 0 : sim._sim_receive(this.unit.handle, this.connection, ptr, bytes.length);
      sim._free(ptr);
      if (!taken) throw new DOMException('Failed to write the report.', 'NetworkError');
      this.collectReplies(sentAt + config.latencyMs);
    }

    collectReplies(deliverAt) {
      const ptr = sim._malloc(65);
      while (this.connection && sim._sim_take_report(this.unit.handle, this.connection, ptr) === 1) {
        const frame = sim.HEAPU8.slice(ptr, ptr + 65);
        at(deliverAt, () => this.deliver(frame));
      }
      sim._free(ptr);
    }

    deliver(frame) {
      if (this.gone || !this.opened) return;
      timing.delivered.push({at: performance.now(), code: echoOf(frame)});
      const event = new Event('inputreport');
      event.device = this;
      event.reportId = frame[0];
      event.data = new DataView(frame.buffer, 1, 64);
      if (this.oninputreport) this.oninputreport(event);
      this.dispatchEvent(event);
    }

    async forget() {
      granted.delete(this.productId);
    }
  }

  function announce(type, target) {
    if (!granted.has(target.productId)) return;
    const event = new Event(type);
    event.device = target;
    hid.dispatchEvent(event);
  }

  // The controller left or came back (it calls this at once; the browser learns of a
  // return only after the re-enumeration time).
  function presenceChanged(handle, present) {
    const unit = units.find((u) => u.handle === handle);
    if (!unit) return;  // being made: it is announced once it is
    if (!present) {
      const left = unit.device;
      unit.device = null;
      if (!left) return;
      left.gone = true;
      left.opened = false;
      setTimeout(() => announce('disconnect', left), 0);
      return;
    }
    setTimeout(() => {
      const productId = sim._sim_product_id(unit.handle);
      if (productId === 0 || unit.device) return;
      unit.device = new StandInDevice(unit, productId);
      announce('connect', unit.device);
    }, config.reenumerateMs);
  }

  // A simulated controller, present from now on (listed first, or last).
  function makeController(c, first) {
    const unit = {handle: 0, device: null};
    unit.handle = sim._sim_create(c.typeCode, c.version, c.updatedVersion, c.regionStart,
                                  c.startInBootMode ? 1 : 0, c.removeAtBlock || 0);
    unit.device = new StandInDevice(unit, sim._sim_product_id(unit.handle));
    first ? units.unshift(unit) : units.push(unit);
    made.push(unit);
    return unit;
  }

  const simReady = createUpdateSim({onPresence: presenceChanged}).then((m) => {
    sim = m;
    makeController(config.sim, false);
  });

  hid.getDevices = async () => {
    await simReady;
    ++enumerations;
    return units.filter((u) => u.device && granted.has(u.device.productId)).map((u) => u.device);
  };
  hid.requestDevice = async ({filters}) => {
    await simReady;
    if (!navigator.userActivation.isActive) {
      throw new DOMException('Must be handling a user gesture to show a permission request.',
                             'SecurityError');
    }
    const matches = (device) => (filter) =>
        (filter.vendorId === undefined || filter.vendorId === device.vendorId) &&
        (filter.productId === undefined || filter.productId === device.productId);
    const unit = units.find((u) => u.device && filters.some(matches(u.device)));
    if (!unit) return [];  // the user found nothing to choose
    granted.add(unit.device.productId);
    return [unit.device];
  };
  Object.defineProperty(Navigator.prototype, 'hid', {get: () => hid, configurable: true});

  function copyOut(fn) {
    const needed = fn(0, 0);
    const ptr = sim._malloc(Math.max(needed, 1));
    fn(ptr, needed);
    const bytes = sim.HEAPU8.slice(ptr, ptr + needed);
    sim._free(ptr);
    return bytes;
  }

  window.standIn = {
    ready: () => simReady,
    // Every frame the device received, each an array of bytes.
    received(index = 0) {
      const handle = made[index].handle;
      const bytes = copyOut((ptr, capacity) => sim._sim_received(handle, ptr, capacity));
      const frames = [];
      for (let i = 0; i < bytes.length;) {
        const length = bytes[i] | (bytes[i + 1] << 8);
        frames.push(Array.from(bytes.subarray(i + 2, i + 2 + length)));
        i += 2 + length;
      }
      return frames;
    },
    storedRegion: (index = 0) => Array.from(copyOut(
        (ptr, capacity) => sim._sim_stored_region(made[index].handle, ptr, capacity))),
    versionWord: (index = 0) => sim._sim_version_word(made[index].handle) >>> 0,
    unplug: (index = 0) => sim._sim_unplug(made[index].handle),
    plugIn: (bootMode, index = 0) => sim._sim_plug_in(made[index].handle, bootMode ? 1 : 0),
    // Another controller ({typeCode, version, startInBootMode, ...} over the config's),
    // listed before the others and allowed to the page as a user would allow it; its index.
    addController(c) {
      const unit = makeController({...config.sim, removeAtBlock: 0, ...c}, true);
      granted.add(unit.device.productId);
      setTimeout(() => announce('connect', unit.device), 0);
      return made.length - 1;
    },
    enumerations: () => enumerations,
    timing,
  };
})
