import { ZorvikClient } from '../src/api';
import { WorkspacesModel } from '../src/model';
import { StandIn } from './stand-in';

const LIST = [
  { id: 1, name: 'Research', current: false },
  { id: 2, name: 'Data Engineering', current: true }
];

function modelOn(server: StandIn): { model: WorkspacesModel; notified: string[] } {
  const model = new WorkspacesModel(new ZorvikClient(server.send, '/api/zorvik/workspaces'));
  const notified: string[] = [];
  model.failed.connect((_, text) => notified.push(text));
  return { model, notified };
}

describe('the model', () => {
  it('joins, then lists again', async () => {
    const server = new StandIn().answer(200, { success: true }).answer(200, LIST);
    const { model, notified } = modelOn(server);
    await model.join('2');
    expect(server.sent.map(s => s.method)).toEqual(['POST', 'GET']);
    expect(model.joined?.label).toBe('Data Engineering');
    expect(model.error).toBeNull();
    expect(model.busy).toBe(false);
    expect(notified).toEqual([]);
  });

  it("shows and notifies a failed join once, with the platform's list after it", async () => {
    const server = new StandIn()
      .answer(404, { error: 'Workspace 3 does not exist.' })
      .answer(200, LIST.slice(0, 1));
    const { model, notified } = modelOn(server);
    await model.join('3');
    expect(model.error).toBe('Error 404: Workspace 3 does not exist.');
    expect(notified).toEqual(['Error 404: Workspace 3 does not exist.']);
    expect(model.workspaces?.map(w => w.label)).toEqual(['Research']);
    // The next request that goes through clears it.
    server.answer(200, LIST);
    await model.reload();
    expect(model.error).toBeNull();
  });

  it('shows a failed refresh without notifying it, and keeps the list', async () => {
    const server = new StandIn().answer(200, LIST).answer(504, { error: 'The platform timed out.' });
    const { model, notified } = modelOn(server);
    await model.reload('refresh');
    await model.reload('refresh');
    expect(model.error).toBe('Error 504: The platform timed out.');
    expect(notified).toEqual([]);
    expect(model.joined?.label).toBe('Data Engineering');
  });

  it("runs the user's action after a running refresh, and drops refreshes meanwhile", async () => {
    const server = new StandIn().answer(200, LIST).answer(200, { success: true }).answer(200, LIST);
    const { model } = modelOn(server);
    const busy: boolean[] = [];
    model.changed.connect(() => busy.push(model.busy));
    const refreshing = model.reload('refresh');
    const joining = model.join('1');
    const dropped = model.reload('refresh');
    await Promise.all([refreshing, joining, dropped]);
    expect(server.sent.map(s => s.method)).toEqual(['GET', 'POST', 'GET']);
    expect(busy[busy.length - 1]).toBe(false);
    expect(busy.slice(0, -1).every(b => b)).toBe(true);
  });
});
