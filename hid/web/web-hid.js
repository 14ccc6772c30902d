// The browser's half of the WebHID device link (WebHidPlatform.cpp calls it through
// EM_JS / EM_ASYNC_JS). Linked in front of the module (--pre-js), so it runs before the
// page script and shares the module's scope (HEAPU8).
//
// What an operating system does for the link, WebHID does here:
// - the interfaces are the controller's devices this origin may use
//   (navigator.hid.getDevices()), each with a number of ours for its lifetime;
// - a handle opened for reading gets its own queue of input reports from the moment
//   it was opened, the oldest first and at most 64, as hidraw keeps them per open file;
// - a device that sent `disconnect` is gone for good: its reads fail at once and its
//   writes fail. When it comes back the browser gives it a new HIDDevice object.
Module['webHid'] = (function () {
  const kVendorId = 0x4B2E;
  const kProductIds = [0x6E21, 0x6E30];  // application mode, boot mode
  const kNoticeArrival = 0x8000;
  const kNoticeRemoveComplete = 0x8004;
  const kQueueCapacity = 64;
  const kFrameSize = 65;

  // Results shared with WebHidPlatform.cpp.
  const kOk = 0, kTimeout = 1, kGone = 2, kFailed = 3;                      // reads
  const kOpenNotFound = 1, kOpenRefused = 2, kOpenGone = 3, kOpenFailed = 4;  // opening

  const entries = new Map();  // our number -> {device, gone, opens, closing, readers}
  const numbers = new Map();  // HIDDevice -> our number
  const readers = new Map();  // reader number -> {entry, queue, wake}
  const notices = [];
  let nextNumber = 1;
  let nextReader = 1;
  let noticesWanted = false;
  // How the user's last request in the browser's chooser ended, as the Request values of
  // hid/Survey.h: 0 not asked, 1 a device chosen, 2 closed without a choice, 3 blocked.
  let request = {state: 0, reason: ''};

  const isController = (device) =>
      device.vendorId === kVendorId && kProductIds.includes(device.productId);

  function entryOf(device) {
    let number = numbers.get(device);
    if (number === undefined) {
      number = nextNumber++;
      numbers.set(device, number);
      const entry = {device, gone: false, opens: 0, closing: null, readers: new Set()};
      entries.set(number, entry);
      device.addEventListener('inputreport', (event) => deliver(entry, event));
    }
    return number;
  }

  // The report as a frame: its report ID (0 for an interface without numbered
  // reports), then its data, as every platform of the link delivers it.
  function deliver(entry, event) {
    const frame = new Uint8Array(kFrameSize);
    frame[0] = event.reportId;
    const data = event.data;
    frame.set(new Uint8Array(data.buffer, data.byteOffset,
                             Math.min(data.byteLength, kFrameSize - 1)), 1);
    for (const reader of entry.readers) {
      if (reader.queue.length < kQueueCapacity) {
        reader.queue.push(frame);
      }
      if (reader.wake) reader.wake();
    }
  }

  function notify(code) {
    if (!noticesWanted) return;
    notices.push(code);
    if (api.onNotice) api.onNotice();
  }

  function connected(event) {
    if (isController(event.device)) notify(kNoticeArrival);
  }

  function disconnected(event) {
    const number = numbers.get(event.device);
    if (number !== undefined) {
      const entry = entries.get(number);
      entry.gone = true;
      for (const reader of entry.readers) {
        if (reader.wake) reader.wake();
      }
    }
    if (isController(event.device)) notify(kNoticeRemoveComplete);
  }

  const api = {
    // Called when a notice is queued, so that the page hands it to the update control.
    onNotice: null,

    available: () => typeof navigator !== 'undefined' && !!navigator.hid,

    listen() {
      if (!api.available()) return;
      navigator.hid.addEventListener('connect', connected);
      navigator.hid.addEventListener('disconnect', disconnected);
    },

    // A device the user has just allowed (requestDevice): it shows up as an arrival,
    // since the browser sends `connect` only for devices plugged in later.
    granted(device) {
      if (isController(device)) notify(kNoticeArrival);
    },

    // Writes up to `capacity` triples (number, vendor ID, product ID) as u32 at ptr.
    async enumerate(ptr, capacity) {
      if (!api.available()) return 0;
      let devices = [];
      try {
        devices = await navigator.hid.getDevices();
      } catch (error) {
        return 0;
      }
      let count = 0;
      for (const device of devices) {
        if (!isController(device) || count === capacity) continue;
        const words = new Uint32Array(HEAPU8.buffer, ptr + count * 12, 3);
        words[0] = entryOf(device);
        words[1] = device.vendorId;
        words[2] = device.productId;
        ++count;
      }
      return count;
    },

    // Opens the device for one handle; with `reading`, also gives the handle a queue.
    // Returns the reader's number (or 0 without one), else minus an opening result.
    async open(number, reading, whyPtr, whySize) {
      const entry = entries.get(number);
      if (!entry) return -kOpenNotFound;
      if (entry.gone) return -kOpenGone;
      if (entry.closing) await entry.closing;
      if (!entry.device.opened) {
        try {
          await entry.device.open();
        } catch (error) {
          stringToUTF8(error.name + ': ' + error.message, whyPtr, whySize);
          if (entry.gone) return -kOpenGone;
          const refused = error.name === 'NotAllowedError' || error.name === 'SecurityError';
          return refused ? -kOpenRefused : -kOpenFailed;
        }
      }
      if (entry.gone) return -kOpenGone;
      ++entry.opens;
      if (!reading) return 0;
      const reader = {entry, queue: [], wake: null};
      const id = nextReader++;
      readers.set(id, reader);
      entry.readers.add(reader);
      return id;
    },

    // One handle let go; the device is closed when the last one is.
    release(number, readerNumber) {
      const entry = entries.get(number);
      const reader = readers.get(readerNumber);
      if (reader) {
        readers.delete(readerNumber);
        entry.readers.delete(reader);
        if (reader.wake) reader.wake();
      }
      if (!entry || --entry.opens > 0 || entry.gone || !entry.device.opened) return;
      entry.closing = entry.device.close().catch(() => {}).then(() => {
        entry.closing = null;
      });
    },

    // Waits at most timeoutMs for a report on the reader's queue and copies its frame
    // to ptr. A report that comes after the wait ended stays queued for the next read.
    async read(readerNumber, ptr, timeoutMs) {
      const reader = readers.get(readerNumber);
      if (!reader) return kFailed;
      // A device closed under the handle (by the browser) is as good as gone.
      const gone = () => reader.entry.gone || !reader.entry.device.opened;
      if (reader.queue.length === 0 && !gone()) {
        await new Promise((resolve) => {
          const timer = setTimeout(done, timeoutMs);
          function done() {
            clearTimeout(timer);
            reader.wake = null;
            resolve();
          }
          reader.wake = done;
        });
      }
      if (reader.queue.length > 0) {
        HEAPU8.set(reader.queue.shift(), ptr);
        return kOk;
      }
      if (!readers.has(readerNumber)) return kFailed;
      return gone() ? kGone : kTimeout;
    },

    // Sends one report: frame byte 0 is the report ID, the rest its data, so the device
    // gets exactly the bytes every other platform writes. True when the browser sent it.
    async write(number, ptr, length) {
      const entry = entries.get(number);
      if (!entry || entry.gone || !entry.device.opened || length < 1) return 0;
      const reportId = HEAPU8[ptr];
      const data = HEAPU8.slice(ptr + 1, ptr + length);
      try {
        await entry.device.sendReport(reportId, data);
        return 1;
      } catch (error) {
        return 0;
      }
    },

    // The page's requestDevice() ended: with the devices chosen, or with its error.
    requested(devices, error) {
      request = error ? {state: 3, reason: error.name + ': ' + error.message}
                      : {state: devices.length > 0 ? 1 : 2, reason: ''};
    },

    requestState(reasonPtr, reasonSize) {
      stringToUTF8(request.reason, reasonPtr, reasonSize);
      return request.state;
    },

    setNoticesWanted(wanted) {
      noticesWanted = wanted;
      if (!wanted) notices.length = 0;
    },

    takeNotice: () => notices.length > 0 ? notices.shift() : 0,
  };
  return api;
})();
